#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <string>

#include "RecordingPrompts.h"
#include "authoring/SampleGame.h"
#include "dialogs/ExportDialog.h"
#include "export/Exporter.h"
#include "support/FolderSnapshot.h"
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
                     const std::string& prefix)
{
    TempFolder out;
    ExportOptions options;
    options.format = format;
    options.rotate = rotate;
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
    void writesWhatTheEngineWrites_data();
    void writesWhatTheEngineWrites();
    void cancelLeavesOnlyWholeFiles();
    void exportDialog();
};

void TestExportRunner::writesWhatTheEngineWrites_data()
{
    QTest::addColumn<int>("category");
    QTest::addColumn<QString>("animation");
    QTest::addColumn<bool>("png");
    QTest::addColumn<bool>("rotate");
    QTest::addColumn<QString>("prefix");  // of the engine's images expected
    QTest::newRow("walls, PNG, not turned") << 0 << "" << true << false << "CELS3/";
    QTest::newRow("one animation, BMP") << 2 << "INTRO.FLI" << false << true << "FLI/INTRO-";
}

// The user's choices reach the engine, and the images are the engine's own, no more.
void TestExportRunner::writesWhatTheEngineWrites()
{
    QFETCH(int, category);
    QFETCH(QString, animation);
    QFETCH(bool, png);
    QFETCH(bool, rotate);
    QFETCH(QString, prefix);
    Session session;
    const ImageFormat format = png ? ImageFormat::Png : ImageFormat::Bmp;
    session.prompts.exportAnswers.push_back({PathOf(session.out.path()), format});

    const auto report = session.runner.Run(
        session.game, {static_cast<ArtCategory>(category), animation.toStdString(), rotate});

    const Snapshot expected = ByTheEngine(session.game, static_cast<ArtCategory>(category), format,
                                          rotate, prefix.toStdString());
    QVERIFY(!expected.empty());
    QVERIFY(TakeSnapshot(session.out.path()) == expected);
    QVERIFY(report.has_value());
    QCOMPARE(report->summary.imagesWritten, expected.size());
    QCOMPARE(report->summary.failures, std::size_t{0});
    QVERIFY(!report->summary.cancelled);
    QCOMPARE(session.prompts.exportRequests.size(), std::size_t{1});
    QCOMPARE(session.prompts.exportRequests[0].subFolder, prefix.section(u'/', 0, 0));
    QCOMPARE(session.prompts.messages.size(), std::size_t{1});
    QCOMPARE(session.prompts.messages[0].text,
             QStringLiteral("%1 images written to %2.")
                 .arg(expected.size())
                 .arg(QDir::toNativeSeparators(PathOf(session.out.path()) + u'/' +
                                               prefix.section(u'/', 0, 0))));
}

// Cancel pressed as the second animation starts: the first one's images are all
// there, whole, and nothing else is.
void TestExportRunner::cancelLeavesOnlyWholeFiles()
{
    Session session;
    const std::vector<std::string> animations = session.game.ListFiles(ArtCategory::Animated);
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
    format->setCurrentIndex(0);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.Choice(), (ExportChoice{QDir::homePath() + "/art", ImageFormat::Bmp}));
}

int RunExportRunnerTests(int argc, char** argv)
{
    TestExportRunner test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ExportRunner.moc"
