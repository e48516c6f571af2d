// Edit > Replace from File... and Undo Replace on a copy of the sample game: the
// file on disk, its backup and the picture on show, driven through the menus.
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "GameFixture.h"
#include "WindowDriver.h"
#include "art/ArtFiles.h"
#include "authoring/SampleGame.h"
#include "export/Exporter.h"
#include "support/FolderSnapshot.h"
#include "support/TempFolder.h"
#include "window/PathText.h"

namespace fs = std::filesystem;
using namespace varek;
using namespace varek::test;

namespace {

class QuietListener final : public ExportListener {
public:
    void Failed(const std::string&, const std::string&) override {}
};

// The sample game and what varek-export writes of one category.
struct ReplaceSession {
    explicit ReplaceSession(ArtCategory category, ImageFormat format = ImageFormat::Png)
    {
        WriteSampleGameFolder(game.path());
        ExportOptions options;
        options.format = format;
        options.categories.fill(false);
        options.categories[static_cast<std::size_t>(category)] = true;
        QuietListener listener;
        ExportGameFolder(GameFolder::Open(game.path()), out.path(), options, listener);
    }

    // Gives pixel x, y of an exported image another index, as an image editor
    // would save it (Qt writes the PNG, indexed as it was read); returns that index.
    static int EditPixel(const fs::path& png, int x, int y)
    {
        QImage image(ToQString(png));
        const int index = (image.pixelIndex(x, y) + 1) % image.colorCount();
        image.setPixel(x, y, static_cast<uint>(index));
        image.save(ToQString(png), "PNG");
        return index;
    }

    ByteArray GameFile(const std::string& name) const { return TakeSnapshot(game.path()).at(name); }

    TempFolder game;
    TempFolder out;
    WindowDriver session;
};

// The file offsets where a and b differ.
std::vector<std::size_t> Differences(const ByteArray& a, const ByteArray& b)
{
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (i >= a.size() || i >= b.size() || a[i] != b[i]) {
            at.push_back(i);
        }
    }
    return at;
}

}  // namespace

class TestReplace : public QObject {
    Q_OBJECT

private slots:
    void replaceAWallThenUndo();
    void refusalsWriteNothing();
    void replaceAnAnimationFromASequence();
    void previewShowsBothPicturesAndTheCounts();
};

void TestReplace::replaceAWallThenUndo()
{
    ReplaceSession run(ArtCategory::WallsSprites);
    WindowDriver& session = run.session;
    QVERIFY(session.Start(run.game.path()));
    QAction* replace = ActionNamed(session.window, "Replace from File...");
    QAction* undo = ActionNamed(session.window, "Undo Replace");
    QVERIFY(replace->isEnabled());
    QVERIFY(!undo->isEnabled());
    QCOMPARE(session.list->currentItem()->text(), "BARREL.CEL");
    const ByteArray original = run.GameFile("CELS3/BARREL.CEL");
    const fs::path png = run.out / "CELS3/BARREL.png";
    const int index = ReplaceSession::EditPixel(png, 5, 9);

    // Cancel at the preview: nothing written.
    session.prompts.fileAnswers << ToQString(png) << ToQString(png);
    replace->trigger();
    QCOMPARE(session.prompts.previews.size(), 1u);
    QCOMPARE(run.GameFile("CELS3/BARREL.CEL"), original);
    const ReplacementPreview& preview = session.prompts.previews.front();
    QCOMPARE(preview.target, "CELS3/BARREL.CEL");
    QCOMPARE(preview.counts, "4,096 bytes now, 4,096 after; 1 pixel changed; 0 colours changed");
    QVERIFY(preview.before && preview.after);
    QCOMPARE(preview.after->image.pixels[9 * 64 + 5], index);

    // Replace: the one file pixel the shown pixel stands for changes, the backup
    // keeps the old bytes, and the picture on show is the new one.
    session.prompts.replaceAnswers.push_back(true);
    replace->trigger();
    const ByteArray replaced = run.GameFile("CELS3/BARREL.CEL");
    const PixelPlace file = WallFilePixel({5, 9}, true);
    QCOMPARE(Differences(original, replaced),
             std::vector<std::size_t>{static_cast<std::size_t>(file.y * kWallSize + file.x)});
    QCOMPARE(replaced[static_cast<std::size_t>(file.y * kWallSize + file.x)], index);
    const Snapshot backups = TakeSnapshot(run.game / ".varek-backup");
    QCOMPARE(backups.size(), 1u);
    QVERIFY(backups.begin()->first.ends_with("/CELS3/BARREL.CEL"));
    QCOMPARE(backups.begin()->second, original);
    QCOMPARE(session.list->currentItem()->text(), "BARREL.CEL");
    QCOMPARE(session.pic->Picture().toImage().pixel(5, 9),
             RgbOf(session.window.ArtPalette()[static_cast<std::size_t>(index)]));
    QVERIFY(session.prompts.messages.empty());

    // Ctrl+Z puts the old bytes back, and then there is nothing left to undo.
    QVERIFY(undo->isEnabled());
    QTest::keyClick(&session.window, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(run.GameFile("CELS3/BARREL.CEL"), original);
    QVERIFY(!undo->isEnabled());
    QCOMPARE(
        session.pic->Picture().toImage().pixel(5, 9),
        RgbOf(session.window
                  .ArtPalette()[original[static_cast<std::size_t>(file.y * kWallSize + file.x)]]));
}

void TestReplace::refusalsWriteNothing()
{
    ReplaceSession run(ArtCategory::WallsSprites);
    WindowDriver& session = run.session;
    QVERIFY(session.Start(run.game.path()));
    const Snapshot before = TakeSnapshot(run.game.path());
    // A wall of the wrong size: refused before any preview, with the importer's reason.
    const fs::path small = run.out / "small.png";
    QImage(63, 64, QImage::Format_RGB32).save(ToQString(small), "PNG");
    session.prompts.fileAnswers << ToQString(small);
    session.prompts.replaceAnswers.push_back(true);
    ActionNamed(session.window, "Replace from File...")->trigger();
    QVERIFY(session.prompts.previews.empty());
    QCOMPARE(session.prompts.messages.size(), 1u);
    QVERIFY2(session.prompts.messages.front().text.contains(
                 "a wall or sprite is 64 x 64 pixels, the image 63 x 64"),
             qPrintable(session.prompts.messages.front().text));
    QCOMPARE(TakeSnapshot(run.game.path()), before);

    // A file opened on its own has no game folder to take a palette and a backup.
    QVERIFY(session.window.OpenFile(run.game / "STILLCEL/GEM.CEL"));
    QAction* replace = ActionNamed(session.window, "Replace from File...");
    QVERIFY(!replace->isEnabled());
    QVERIFY(replace->statusTip().contains("game folder"));
}

void TestReplace::replaceAnAnimationFromASequence()
{
    ReplaceSession run(ArtCategory::Animated);
    WindowDriver& session = run.session;
    QVERIFY(session.Start(run.game.path()));
    session.Press(static_cast<int>(ArtCategory::Animated));
    QTRY_COMPARE(session.list->currentItem()->text(), "FIRE.FLI");
    const Snapshot unchanged = TakeSnapshot(run.game.path());

    // The animation's own GIF, unedited, changes nothing and is not offered.
    {
        ReplaceSession gif(ArtCategory::Animated, ImageFormat::Gif);
        session.prompts.fileAnswers << ToQString(gif.out / "FLI/FIRE.gif");
        session.prompts.replaceAnswers.push_back(true);
        ActionNamed(session.window, "Replace from File...")->trigger();
        QVERIFY(session.prompts.previews.empty());
        QCOMPARE(session.prompts.messages.size(), 1u);
        QVERIFY(session.prompts.messages.front().text.contains("nothing to replace"));
        QCOMPARE(TakeSnapshot(run.game.path()), unchanged);
        session.prompts.messages.clear();
        session.prompts.replaceAnswers.clear();
    }
    const GameFolder before = GameFolder::Open(run.game.path());
    const Picture first = before.LoadFirstPicture(ArtCategory::Animated, "FIRE.FLI", {});
    std::vector<std::string> sequence;
    for (const auto& [name, bytes] : TakeSnapshot(run.out.path())) {
        if (name.starts_with("FLI/FIRE-")) {
            sequence.push_back(name);
        }
    }
    QVERIFY(sequence.size() > 2);
    const fs::path png = run.out / sequence.front();
    const int index = ReplaceSession::EditPixel(png, 7, 3);

    // The preview sets the first pictures side by side, whichever is on show.
    session.hsb->setValue(session.hsb->maximum());
    session.prompts.fileAnswers << ToQString(png);
    session.prompts.replaceAnswers.push_back(true);
    ActionNamed(session.window, "Replace from File...")->trigger();
    for (const auto& message : session.prompts.messages) {
        QFAIL(qPrintable(message.text));
    }
    QCOMPARE(session.prompts.previews.size(), 1u);
    const ReplacementPreview& preview = session.prompts.previews.front();
    QVERIFY(preview.counts.contains("1 pixel changed"));
    QCOMPARE(preview.before, first);
    // The whole sequence was read: as many pictures as before, the first changed
    // at the one pixel.
    const GameFolder after = GameFolder::Open(run.game.path());
    FrameStore oldFrames;
    FrameStore newFrames;
    QCOMPARE(after.LoadAnimation("FIRE.FLI", newFrames).pictures.size(),
             before.LoadAnimation("FIRE.FLI", oldFrames).pictures.size());
    Picture changed = after.LoadFirstPicture(ArtCategory::Animated, "FIRE.FLI", {});
    const auto at = static_cast<std::size_t>(3 * first.image.width + 7);
    QCOMPARE(changed.image.pixels[at], index);
    changed.image.pixels[at] = first.image.pixels[at];
    QCOMPARE(changed, first);
}

void TestReplace::previewShowsBothPicturesAndTheCounts()
{
    const ReplacementPreview preview{"CELS3/A.CEL", "a.png", "1 pixel changed",
                                     Picture{Gradient(64, 64), PaletteFromBlock(TestBlock(0))},
                                     std::nullopt};
    for (const bool replace : {true, false}) {
        int pictures = -1;
        QString counts;
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            QVERIFY(dialog != nullptr);
            pictures = 0;
            for (const QLabel* label : dialog->findChildren<QLabel*>()) {
                pictures += label->pixmap().isNull() ? 0 : 1;
            }
            counts = dialog->findChild<QLabel*>("counts")->text();
            auto* buttons = dialog->findChild<QDialogButtonBox*>();
            for (QAbstractButton* button : buttons->buttons()) {
                const bool accepts = buttons->buttonRole(button) == QDialogButtonBox::AcceptRole;
                if (accepts == replace) {
                    QTest::mouseClick(button, Qt::LeftButton);
                    return;
                }
            }
        });
        QCOMPARE(ShowReplacePreview(nullptr, preview), replace);
        // The new file shows no picture here: only the one on show is drawn.
        QCOMPARE(pictures, 1);
        QCOMPARE(counts, "1 pixel changed");
    }
}

int RunReplaceTests(int argc, char** argv)
{
    TestReplace tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_Replace.moc"
