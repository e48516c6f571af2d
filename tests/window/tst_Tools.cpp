// The tools around the picture: the file pixel under the mouse, the palette dock
// and its export, the gallery and the file's facts.
#include <QAction>
#include <QDockWidget>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

#include "GameFixture.h"
#include "WindowDriver.h"
#include "window/FileInfoDock.h"
#include "window/GalleryDock.h"
#include "window/PaletteDock.h"

namespace fs = std::filesystem;
using namespace varek;
using namespace varek::test;

namespace {

// The inspector's text for a pixel of index in the colours of block, from the
// block's own 6-bit levels.
QString PixelText(int x, int y, const PaletteBlock& block, int index)
{
    const auto level = [&](int component) {
        return block[static_cast<std::size_t>(3 * index + component)];
    };
    return QStringLiteral("%1, %2 \u00b7 index %3 \u00b7 RGB %4 %5 %6 \u00b7 6-bit %7 %8 %9")
        .arg(x)
        .arg(y)
        .arg(index)
        .arg(4 * level(0))
        .arg(4 * level(1))
        .arg(4 * level(2))
        .arg(level(0))
        .arg(level(1))
        .arg(level(2));
}

struct Tools {
    explicit Tools(WindowDriver& session)
        : pixelInfo(session.window.findChild<QLabel*>("pictureInfo")),
          palette(session.window.findChild<PaletteDock*>()),
          gallery(session.window.findChild<GalleryDock*>()),
          facts(session.window.findChild<FileInfoDock*>())
    {
    }
    QLabel* pixelInfo;
    PaletteDock* palette;
    GalleryDock* gallery;
    FileInfoDock* facts;
};

}  // namespace

class TestTools : public QObject {
    Q_OBJECT

private slots:
    void inspectorNamesTheFilePixel_data();
    void inspectorNamesTheFilePixel();
    void paletteDockFollowsThePictureAndHighlightsAnIndex();
    void exportPaletteWritesTheFormatItsNameAsksFor();
    void galleryShowsEveryFileAndOpensOne();
    void fileInfoShowsTheFactsOfTheFileOnShow();
};

void TestTools::inspectorNamesTheFilePixel_data()
{
    QTest::addColumn<int>("category");
    QTest::addColumn<bool>("rotate");
    QTest::addColumn<int>("zoom");  // 0: the default look
    QTest::addColumn<bool>("aspect");
    QTest::addColumn<int>("scroll");
    QTest::addColumn<QPoint>("screen");  // where the mouse rests in the picture box
    QTest::addColumn<QPoint>("file");    // the pixel of the file shown there
    QTest::addColumn<int>("index");
    // MarkedWall holds 1, 2, 3, 4 at file pixels (0, 0), (63, 0), (0, 63), (63, 63);
    // turned, file pixel (x, y) is shown at (63 - y, x). The default look shows a
    // wall four times enlarged.
    QTest::newRow("wall turned, default look")
        << 0 << true << 0 << false << 0 << QPoint(4 * 63 + 2, 4 * 63 + 1) << QPoint(63, 0) << 2;
    QTest::newRow("wall turned, 3x")
        << 0 << true << 3 << false << 0 << QPoint(3 * 0 + 1, 3 * 0 + 2) << QPoint(0, 63) << 3;
    QTest::newRow("wall as stored, 3x")
        << 0 << false << 3 << false << 0 << QPoint(3 * 63 + 2, 3 * 63) << QPoint(63, 63) << 4;
    // A still of 320 x 200 at 2x with the 6:5 aspect: rows 2.4 screen pixels high,
    // scrolled 100 screen pixels to the right.
    QTest::newRow("still 2x, aspect, scrolled")
        << 1 << true << 2 << true << 100 << QPoint(2 * 80 + 1 - 100, 241) << QPoint(80, 100)
        << (80 + 700) % 256;
    QTest::newRow("animation, default look")
        << 2 << true << 0 << false << 0 << QPoint(300, 150) << QPoint(300, 150) << 11;
}

// The pixel of the file, whatever the zoom, aspect, scroll and turn, with its index
// and its colour as shown and as the file's 6-bit levels; nothing off the picture.
void TestTools::inspectorNamesTheFilePixel()
{
    QFETCH(int, category);
    QFETCH(bool, rotate);
    QFETCH(int, zoom);
    QFETCH(bool, aspect);
    QFETCH(int, scroll);
    QFETCH(QPoint, screen);
    QFETCH(QPoint, file);
    QFETCH(int, index);
    GameFixture game;
    game.WriteWall("W.CEL", MarkedWall());
    const PaletteBlock stillColors = TestBlock(7);
    game.WriteStill("S.CEL", Gradient(320, 200), stillColors);
    game.WriteAnimation("A.FLI", WriteAnimation(NumberedFrames(2)));
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    Tools tools(session);
    QVERIFY(!tools.palette->isVisible() && !tools.gallery->isVisible() &&
            !tools.facts->isVisible());
    session.Press(category);
    session.rotate->setChecked(rotate);
    if (zoom > 0) {
        ActionNamed(session.window, QStringLiteral("%1\u00d7").arg(zoom))->trigger();
    }
    ActionNamed(session.window, "Correct Aspect (6:5)")->setChecked(aspect);
    session.pic->SetAspectCorrection(aspect);
    session.pic->horizontalScrollBar()->setValue(scroll);
    QCOMPARE(session.pic->horizontalScrollBar()->value(), scroll);

    QVERIFY(!tools.pixelInfo->text().contains("index"));
    QTest::mouseMove(session.pic->viewport(), screen);
    const PaletteBlock& block = category == 0   ? GameFixture::kPaletteBlock
                                : category == 1 ? stillColors
                                                : TestBlock(1);
    QTRY_COMPARE(tools.pixelInfo->text(), PixelText(file.x(), file.y(), block, index));
    QVERIFY(tools.pixelInfo->isVisible());
    if (category == 2) {
        // The next picture under the mouse at rest.
        session.hsb->setValue(2);
        QCOMPARE(tools.pixelInfo->text(), PixelText(file.x(), file.y(), TestBlock(2), 12));
    }
    QTest::mouseMove(session.list, QPoint(5, 5));
    QTRY_VERIFY(!tools.pixelInfo->text().contains("index"));
}

// The grid holds the colours on show: PALETTE.PAL, the still's own, the frame's;
// the index under the mouse is marked, and a click on a swatch greys every pixel
// of another index until a second click.
void TestTools::paletteDockFollowsThePictureAndHighlightsAnIndex()
{
    GameFixture game;
    game.WriteWall("W.CEL", MarkedWall());
    game.WriteStill("S.CEL", Gradient(8, 8), TestBlock(7));
    game.WriteAnimation("A.FLI", WriteAnimation(NumberedFrames(3)));
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    Tools tools(session);
    tools.palette->toggleViewAction()->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(&session.window));
    PaletteGrid* grid = tools.palette->Grid();
    QTRY_VERIFY(grid->isVisible());
    QCOMPARE(grid->Colors(), std::optional(PaletteFromBlock(GameFixture::kPaletteBlock)));

    // Turned, file pixel (0, 0), index 1, is shown at the top right.
    const QPoint index1(4 * 63 + 2, 2);
    const QPoint index0(100, 100);
    QTest::mouseMove(session.pic->viewport(), index1);
    QTRY_COMPARE(grid->Marked(), 1);
    const auto shownAt = [&](QPoint point) {
        return session.pic->viewport()->grab().toImage().pixel(point);
    };
    QCOMPARE(shownAt(index0), RgbOf(GameFixture::kPaletteBlock, 0));
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->SwatchRect(1).center());
    QCOMPARE(grid->Selected(), 1);
    QCOMPARE(shownAt(index1), RgbOf(GameFixture::kPaletteBlock, 1));
    QVERIFY(shownAt(index0) != RgbOf(GameFixture::kPaletteBlock, 0));
    // The highlight follows a new picture of the same file.
    session.rotate->setChecked(false);
    QCOMPARE(shownAt(QPoint(2, 2)), RgbOf(GameFixture::kPaletteBlock, 1));
    QVERIFY(shownAt(index0) != RgbOf(GameFixture::kPaletteBlock, 0));
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->SwatchRect(1).center());
    QCOMPARE(grid->Selected(), -1);
    QCOMPARE(shownAt(index0), RgbOf(GameFixture::kPaletteBlock, 0));
    // The keys: the first arrow selects index 0, the next move within the grid.
    grid->setFocus();
    for (const auto& [key, selected] : {std::pair{Qt::Key_Down, 0},
                                        {Qt::Key_Left, 0},
                                        {Qt::Key_Down, 16},
                                        {Qt::Key_Right, 17},
                                        {Qt::Key_Up, 1},
                                        {Qt::Key_Escape, -1}}) {
        QTest::keyClick(grid, key);
        QCOMPARE(grid->Selected(), selected);
    }

    session.Press(1);
    QCOMPARE(grid->Colors(), std::optional(PaletteFromBlock(TestBlock(7))));
    session.Press(2);
    QCOMPARE(grid->Colors(), std::optional(PaletteFromBlock(TestBlock(1))));
    session.hsb->setValue(3);
    QCOMPARE(grid->Colors(), std::optional(PaletteFromBlock(TestBlock(3))));
}

// The colours on show, in the format the chosen name's extension asks for; Pillow,
// where installed, reads the GIMP palette back to the same colours.
void TestTools::exportPaletteWritesTheFormatItsNameAsksFor()
{
    GameFixture game;
    game.WriteStill("S.CEL", Gradient(8, 8), TestBlock(7));
    const TempFolder out;
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    Tools tools(session);
    session.Press(1);
    tools.palette->show();
    for (const char* name : {"a.gpl", "b.pal", "c.act"}) {
        session.prompts.answers << QString::fromStdString((out / name).string());
        QTest::mouseClick(tools.palette->ExportButton(), Qt::LeftButton);
    }
    QCOMPARE(session.prompts.requests.size(), 3u);
    QCOMPARE(session.prompts.requests[0].fileName, "S.gpl");
    const Palette shown = PaletteFromBlock(TestBlock(7));
    ByteArray table;
    for (const ColorValue c : shown.Colors) {
        table.insert(table.end(), {RedOf(c), GreenOf(c), BlueOf(c)});
    }
    QVERIFY(ReadAll(out / "c.act") == table);
    const ByteArray jasc = ReadAll(out / "b.pal");
    const std::string firstLines = "JASC-PAL\r\n0100\r\n256\r\n" + std::to_string(RedOf(shown[0])) +
                                   ' ' + std::to_string(GreenOf(shown[0])) + ' ' +
                                   std::to_string(BlueOf(shown[0])) + "\r\n";
    QCOMPARE(std::string(jasc.begin(), jasc.begin() + firstLines.size()), firstLines);
    QVERIFY(session.window.findChild<QStatusBar*>()->currentMessage().contains("c.act"));

    // The first Python that has Pillow: the one on the path, or the system's own,
    // where the distribution's package installs it.
    QString python;
    for (const QString& candidate : {QStandardPaths::findExecutable("python3"),
                                     QStandardPaths::findExecutable("python3", {"/usr/bin"})}) {
        QProcess probe;
        probe.start(candidate, {"-c", "import PIL.GimpPaletteFile"});
        if (!candidate.isEmpty() && probe.waitForFinished(30000) && probe.exitCode() == 0) {
            python = candidate;
            break;
        }
    }
    if (python.isEmpty()) {
        QSKIP("Pillow is not installed: the GIMP palette was not read back by it");
    }
    QProcess pillow;
    pillow.start(python, {"-c",
                          "import sys\n"
                          "from PIL.GimpPaletteFile import GimpPaletteFile\n"
                          "with open(sys.argv[1], 'rb') as f:\n"
                          "    data, mode = GimpPaletteFile(f).getpalette()\n"
                          "sys.stdout.buffer.write(bytes(data))\n",
                          QString::fromStdString((out / "a.gpl").string())});
    QVERIFY(pillow.waitForFinished(30000));
    QCOMPARE(pillow.exitCode(), 0);
    const QByteArray read = pillow.readAllStandardOutput();
    QCOMPARE(ByteArray(read.begin(), read.end()), table);
}

// Every file of the category as a thumbnail of its first picture, a damaged one
// crossed out with the reason; a click or Enter opens a file, and another
// category refills the gallery.
void TestTools::galleryShowsEveryFileAndOpensOne()
{
    GameFixture game;
    game.WriteWall("A.CEL", ByteArray(kWallBytes, 5));
    game.WriteWall("B.CEL", ByteArray(100, 5));
    game.WriteWall("C.CEL", MarkedWall());
    game.WriteStill("S.CEL", Gradient(320, 200), TestBlock(7));
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    Tools tools(session);
    tools.gallery->toggleViewAction()->trigger();
    QListWidget* view = tools.gallery->View();
    QTRY_VERIFY(tools.gallery->IsFilled());
    QCOMPARE(view->count(), 3);
    const auto state = [&](int row) {
        return static_cast<GalleryDock::ItemState>(view->item(row)->data(Qt::UserRole).toInt());
    };
    QCOMPARE(state(0), GalleryDock::ItemState::Shown);
    QCOMPARE(state(1), GalleryDock::ItemState::Damaged);
    QVERIFY(view->item(1)->toolTip().contains("4096"));
    QCOMPARE(state(2), GalleryDock::ItemState::Shown);
    // The wall enlarged by whole pixels, turned: file pixel (0, 0) at the top right.
    const QImage thumbnail = view->item(2)->icon().pixmap(GalleryDock::kThumbnailSide).toImage();
    QCOMPARE(thumbnail.size(), QSize(64, 64) * (GalleryDock::kThumbnailSide / 64));
    QCOMPARE(thumbnail.pixel(thumbnail.width() - 1, 0), RgbOf(GameFixture::kPaletteBlock, 1));
    QVERIFY(session.prompts.messages.empty());

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualItemRect(view->item(2)).center());
    QCOMPARE(session.list->currentRow(), 2);
    QVERIFY(session.pic->HasPicture());
    view->setFocus();
    view->setCurrentRow(0);
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(session.list->currentRow(), 0);

    session.Press(1);
    QTRY_VERIFY(tools.gallery->IsFilled());
    QCOMPARE(view->count(), 1);
    QCOMPARE(state(0), GalleryDock::ItemState::Shown);
    QCOMPARE(view->item(0)->icon().pixmap(GalleryDock::kThumbnailSide).size().width(),
             GalleryDock::kThumbnailSide);
}

void TestTools::fileInfoShowsTheFactsOfTheFileOnShow()
{
    GameFixture game;
    game.WriteWall("W.CEL", ByteArray(5000, 1));
    game.WriteAnimation("A.FLI", WriteAnimation(NumberedFrames(3)));
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    Tools tools(session);
    tools.facts->toggleViewAction()->trigger();
    const auto valueOf = [&](const QString& label) {
        const auto found =
            tools.facts->Tree()->findItems(label, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? QString() : found.front()->text(1);
    };
    QTRY_COMPARE(valueOf("Beyond the pixels"), "904 bytes, not shown");
    QCOMPARE(valueOf("File"), "W.CEL");
    session.Press(2);
    QTRY_COMPARE(valueOf("File"), "A.FLI");
    QTRY_COMPARE(valueOf("Pictures"), "3");
    QCOMPARE(valueOf("Picture 2"), "file frame 2, colours changed");
    // The picture on show is the current row, and follows a step.
    QCOMPARE(tools.facts->Tree()->currentItem()->text(0), "Picture 1");
    session.hsb->setValue(3);
    QCOMPARE(tools.facts->Tree()->currentItem()->text(0), "Picture 3");
}

int RunToolTests(int argc, char** argv)
{
    TestTools tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_Tools.moc"
