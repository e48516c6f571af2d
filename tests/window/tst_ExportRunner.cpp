#include <sys/resource.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "RecordingPrompts.h"
#include "authoring/SampleGame.h"
#include "dialogs/ExportDialog.h"
#include "export/Exporter.h"
#include "imaging/WebpImage.h"
#include "support/FolderSnapshot.h"
#include "support/ScratchFileSystem.h"
#include "support/TempFolder.h"
#include "window/ExportRunner.h"

namespace fs = std::filesystem;
using namespace varek;
using namespace varek::test;

namespace {

class QuietListener final : public ExportListener {
public:
    void Failed(const std::string&, const std::string&) override {}
};

// The images varek-export's engine writes for category whose names start with prefix.
Snapshot ByTheEngine(const GameFolder& game, ArtCategory category, ImageFormat format, bool rotate,
                     const std::string& prefix, int scale = 1, bool sheet = false)
{
    TempFolder out;
    ExportOptions options;
    options.format = format;
    options.rotate = rotate;
    options.scale = scale;
    options.sheet = sheet;
    options.categories.fill(false);
    options.categories[static_cast<std::size_t>(category)] = true;
    QuietListener listener;
    ExportGameFolder(game, out.path(), options, listener);
    Snapshot kept;
    for (auto& [name, bytes] : TakeSnapshot(out.path())) {
        if (name.starts_with(prefix)) {
            kept[name] = std::move(bytes);
        }
    }
    return kept;
}

QString PathOf(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

// The sample game folder and a window to own the dialogs.
struct Session {
    Session() { owner.show(); }

    static GameFolder Sample(const TempFolder& folder)
    {
        WriteSampleGameFolder(folder.path());
        return GameFolder::Open(folder.path());
    }

    TempFolder gameFolder;
    GameFolder game = Sample(gameFolder);
    TempFolder out;
    QWidget owner;
    RecordingPrompts prompts;
    ExportRunner runner{prompts, &owner};
};

}  // namespace

class TestExportRunner : public QObject {
    Q_OBJECT

private slots:
    void writesWhatTheEngineWrites();
    void cancelLeavesOnlyWholeFiles();
    void refusedUpFront_data();
    void refusedUpFront();
    void exportsWithoutThreads();
    void exportDialog();
};

// The user's choices reach the engine, and the images are the engine's own, no
// more. (The window's menu exports one animation through the same call.)
void TestExportRunner::writesWhatTheEngineWrites()
{
    Session session;
    session.prompts.exportAnswers.push_back({PathOf(session.out.path()), ImageFormat::Png});

    const auto report = session.runner.Run(session.game, {ArtCategory::WallsSprites, "", false});

    const Snapshot expected =
        ByTheEngine(session.game, ArtCategory::WallsSprites, ImageFormat::Png, false, "CELS3/");
    QVERIFY(!expected.empty());
    QVERIFY(TakeSnapshot(session.out.path()) == expected);
    QVERIFY(report.has_value());
    QCOMPARE(report->summary.imagesWritten, expected.size());
    QCOMPARE(report->summary.failures, std::size_t{0});
    QVERIFY(!report->summary.cancelled);
    QCOMPARE(session.prompts.exportRequests.size(), std::size_t{1});
    QCOMPARE(session.prompts.exportRequests[0].subFolder, "CELS3");
    QCOMPARE(session.prompts.messages.size(), std::size_t{1});
    QCOMPARE(session.prompts.messages[0].text,
             QStringLiteral("%1 images written to %2.")
                 .arg(expected.size())
                 .arg(QDir::toNativeSeparators(PathOf(session.out.path()) + "/CELS3")));

    // Scale and sheets reach it too.
    const TempFolder sheets;
    session.prompts.exportAnswers.push_back({PathOf(sheets.path()), ImageFormat::Gif, 2, true});
    QVERIFY(session.runner.Run(session.game, {ArtCategory::WallsSprites, "", true}));
    const Snapshot sheet = TakeSnapshot(sheets.path());
    QVERIFY(sheet == ByTheEngine(session.game, ArtCategory::WallsSprites, ImageFormat::Gif, true,
                                 "CELS3/", 2, true));
    QCOMPARE(sheet.size(), std::size_t{2});
    QVERIFY(sheet.count("CELS3/walls.png") == 1 && sheet.count("CELS3/walls.json") == 1);
    session.prompts.messages.pop_back();

    // Frame names past the longest name the folder takes are shortened: said once.
    const std::string longName = std::string(251, 'L') + ".FLI";
    fs::copy_file(session.gameFolder / "FLI" / "FIRE.FLI", session.gameFolder / "FLI" / longName);
    session.prompts.exportAnswers.push_back({PathOf(session.out.path()), ImageFormat::Bmp});
    QVERIFY(session.runner.Run(session.game, {ArtCategory::Animated, longName, true}));
    QCOMPARE(session.prompts.messages.size(), std::size_t{2});
    QCOMPARE(session.prompts.messages[1].text.count("names are shortened"), 1);
}

// Cancel pressed as the second animation starts: the first one's images are all
// there, whole, and nothing else is.
void TestExportRunner::cancelLeavesOnlyWholeFiles()
{
    Session session;
    const std::vector<std::string> animations = session.game.ReadFileList(ArtCategory::Animated);
    QVERIFY(animations.size() >= 2);
    session.prompts.exportAnswers.push_back({PathOf(session.out.path()), ImageFormat::Bmp});
    QString labelAtCancel;
    connect(&session.runner, &ExportRunner::fileStarted, this, [&](const QString&, int position) {
        if (position != 2) {
            return;
        }
        auto* dialog = session.owner.findChild<QProgressDialog*>("exportProgress");
        QVERIFY(dialog != nullptr);
        QTRY_VERIFY(dialog->isVisible());
        labelAtCancel = dialog->labelText();
        QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
    });

    const auto report = session.runner.Run(session.game, {ArtCategory::Animated, "", true});

    QVERIFY(labelAtCancel.contains(QString::fromStdString("FLI/" + animations[1])));
    const std::string first = animations[0].substr(0, animations[0].rfind('.'));
    const Snapshot expected = ByTheEngine(session.game, ArtCategory::Animated, ImageFormat::Bmp,
                                          true, "FLI/" + first + "-");
    QVERIFY(TakeSnapshot(session.out.path()) == expected);
    QVERIFY(report.has_value());
    QVERIFY(report->summary.cancelled);
    QCOMPARE(report->summary.imagesWritten, expected.size());
    QVERIFY(session.prompts.messages.back().text.startsWith(
        QStringLiteral("The export was cancelled: %1 images written").arg(expected.size())));
}

void TestExportRunner::refusedUpFront_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("category");
    QTest::addColumn<QString>("message");  // how the one message starts
    QTest::addColumn<int>("icon");
    QTest::newRow("the game folder itself")
        << "game folder" << 0 << "Nothing was exported: " << int(MessageIcon::Critical);
    QTest::newRow("a read-only folder")
        << "read-only" << 0 << "Nothing was exported: " << int(MessageIcon::Critical);
    QTest::newRow("a category folder that cannot be listed")
        << "unlisted" << 1 << "Nothing can be exported: " << int(MessageIcon::Warning);
    QTest::newRow("an empty category folder")
        << "empty" << 1 << "There is nothing to export: " << int(MessageIcon::None);
}

// An export that cannot be done says so once, before any image, and writes nothing:
// not one failure for every image.
void TestExportRunner::refusedUpFront()
{
    QFETCH(QString, fault);
    QFETCH(int, category);
    QFETCH(QString, message);
    QFETCH(int, icon);
    Session session;
    fs::path out = session.out.path();
    std::optional<ScratchFileSystem> scratch;
    QString detail;
    const fs::path stills = session.game.CategoryFolder(ArtCategory::OtherArt);
    if (fault == "game folder") {
        out = session.gameFolder.path();
        detail = PathOf(out);
    } else if (fault == "read-only") {
        out = session.out / "export";
        scratch.emplace(out, 256 * 1024);
        session.out.Write("export/CELS3/W.bmp", ByteArray(300, 0xAB));
        const std::string problem = scratch->MakeReadOnly();
        if (!problem.empty()) {
            QSKIP(problem.c_str());
        }
        detail = PathOf(out);
    } else {
        fs::remove_all(stills);
        if (fault == "unlisted") {
            fs::create_directory_symlink(stills.filename(), stills);
        } else {
            fs::create_directory(stills);
        }
        detail = PathOf(stills);
    }
    const Snapshot before = TakeSnapshot(out);
    session.prompts.exportAnswers.push_back({PathOf(out), ImageFormat::Bmp});

    const auto report =
        session.runner.Run(session.game, {static_cast<ArtCategory>(category), "", true});

    QCOMPARE(session.prompts.messages.size(), std::size_t{1});
    const auto& told = session.prompts.messages[0];
    QVERIFY2(told.text.startsWith(message) && told.text.contains(detail), qPrintable(told.text));
    QCOMPARE(int(told.icon), icon);
    QVERIFY(TakeSnapshot(out) == before);
    // The folder is asked for only when there is something to export.
    QCOMPARE(session.prompts.exportRequests.size(), std::size_t(report ? 1 : 0));
    if (report) {
        QCOMPARE(report->summary.imagesWritten, std::size_t{0});
        QCOMPARE(report->summary.failures, std::size_t{1});
        QCOMPARE(report->failures.size(), std::size_t{1});
        QCOMPARE(report->failures[0].name, out.string());
    } else {
        QVERIFY(fault == "unlisted" || fault == "empty");
    }
}

// Where no thread can be started, the export runs on the window's thread and
// still writes every image and names every file as it starts.
void TestExportRunner::exportsWithoutThreads()
{
    Session session;
    session.prompts.exportAnswers.push_back({PathOf(session.out.path()), ImageFormat::Bmp});
    int started = 0;
    connect(&session.runner, &ExportRunner::fileStarted, this, [&] { ++started; });
    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_NPROC, &limit), 0);
    const rlimit none{0, limit.rlim_max};
    QCOMPARE(::setrlimit(RLIMIT_NPROC, &none), 0);
    bool threadStarted = true;
    try {
        std::thread([] {}).join();
    } catch (const std::system_error&) {
        threadStarted = false;
    }
    std::optional<ExportReport> report;
    if (!threadStarted) {
        report = session.runner.Run(session.game, {ArtCategory::Animated, "", true});
    }
    QCOMPARE(::setrlimit(RLIMIT_NPROC, &limit), 0);
    if (threadStarted) {
        QSKIP("threads start whatever the limit on processes (root)");
    }

    const Snapshot expected =
        ByTheEngine(session.game, ArtCategory::Animated, ImageFormat::Bmp, true, "FLI/");
    QVERIFY(report.has_value());
    QCOMPARE(report->summary.failures, std::size_t{0});
    QVERIFY(TakeSnapshot(session.out.path()) == expected);
    QCOMPARE(started, int(session.game.ReadFileList(ArtCategory::Animated).size()));
}

// The real dialog opens as asked, takes "~" for the home folder, and offers
// "Export" only while a folder is given.
void TestExportRunner::exportDialog()
{
    const QString first = QDir::homePath() + QStringLiteral("/first");
    ExportDialog dialog(nullptr, {"Export", "", "FLI", first, ImageFormat::Png});
    dialog.show();
    auto* folder = dialog.findChild<QLineEdit*>("folder");
    auto* format = dialog.findChild<QComboBox*>("format");
    auto* button = dialog.findChild<QDialogButtonBox*>()->buttons().value(0);
    QVERIFY(folder && format && button && button->text() == "Export");
    QCOMPARE(dialog.Choice(), (ExportChoice{first, ImageFormat::Png}));
    QCOMPARE(dialog.findChild<QLabel*>("target")->text(),
             "The images are written to " + QDir::toNativeSeparators(first + "/FLI") + ".");

    folder->clear();
    QVERIFY(!button->isEnabled());
    QTest::keyClicks(folder, "~/art/");
    QCOMPARE(format->findData(int(ImageFormat::Webp)) >= 0, WebpSupported());
    format->setCurrentIndex(format->findData(int(ImageFormat::Apng)));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.Choice(), (ExportChoice{QDir::homePath() + "/art", ImageFormat::Apng}));

    // The scale takes 1x to 8x; sprite sheets set the format aside, as they are PNG.
    auto* scale = dialog.findChild<QSpinBox*>("scale");
    auto* sheet = dialog.findChild<QCheckBox*>("sheet");
    QVERIFY(scale && sheet && format->isEnabled() && !sheet->isChecked());
    QCOMPARE(scale->value(), 1);
    scale->setValue(9);
    QCOMPARE(scale->value(), 8);
    QTest::keyClick(scale, Qt::Key_Down);
    QTest::mouseClick(sheet, Qt::LeftButton);
    QVERIFY(!format->isEnabled());
    QCOMPARE(dialog.Choice(), (ExportChoice{QDir::homePath() + "/art", ImageFormat::Apng, 7, true}));
    const ExportDialog again(nullptr, {"Export", "", "FLI", first, ImageFormat::Png, 3, true});
    QCOMPARE(again.Choice(), (ExportChoice{first, ImageFormat::Png, 3, true}));
    QVERIFY(!again.findChild<QComboBox*>("format")->isEnabled());
}

int RunExportRunnerTests(int argc, char** argv)
{
    TestExportRunner test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ExportRunner.moc"
