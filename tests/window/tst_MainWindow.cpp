#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "GameFixture.h"
#include "RecordingPrompts.h"
#include "WindowDriver.h"
#include "authoring/CelWriter.h"
#include "fli/FliDecoder.h"
#include "imaging/BmpImage.h"
#include "window/MainWindow.h"
#include "window/PictureBox.h"
#include "window/Program.h"

namespace fs = std::filesystem;
using namespace varek;
using namespace varek::test;

namespace {

// The title the window shows: the program's name and the project's version.
QString ProgramTitle()
{
    return QStringLiteral("Varek - v%1.%2.%3")
        .arg(VAREK_VERSION_MAJOR)
        .arg(VAREK_VERSION_MINOR)
        .arg(VAREK_VERSION_PATCH);
}

const QString kTail =
    QStringLiteral("\r\n\r\nBe sure this program is in the same folder as Vorlund.");

// What run writes to stream (stdout or stderr), through a file.
template <typename Run>
QString Captured(FILE* stream, Run run)
{
    const TempFolder folder;
    const fs::path file = folder / "captured";
    std::fflush(stream);
    const int descriptor = fileno(stream);
    const int saved = dup(descriptor);
    const int target = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(target, descriptor);
    close(target);
    run();
    std::fflush(stream);
    dup2(saved, descriptor);
    close(saved);
    const ByteArray bytes = ReadAll(file);
    return QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()),
                             static_cast<qsizetype>(bytes.size()));
}

// A window whose two notifications are counted.
struct Session : WindowDriver {
    QSignalSpy clicks{&window, &MainWindow::fileClickHandled};
    QSignalSpy renders{&window, &MainWindow::artRendered};

    bool Start(const fs::path& folder)
    {
        return WindowDriver::Start(folder) && QTest::qWaitForWindowActive(&window);
    }
    void ClearCounts()
    {
        clicks.clear();
        renders.clear();
    }
    void Press(int id, Qt::MouseButton button = Qt::LeftButton)
    {
        ClearCounts();
        WindowDriver::Press(id, button);
    }
    void ClickRow(int row)
    {
        ClearCounts();
        WindowDriver::ClickRow(row);
    }
    QStringList Items() const
    {
        QStringList items;
        for (int i = 0; i < list->count(); ++i) {
            items << list->item(i)->text();
        }
        return items;
    }
    QImage Shown() const { return pic->grab().toImage(); }
    QRgb Background() const { return pic->palette().color(QPalette::Dark).rgb(); }
};

// Every pixel of the enlarged block of image row, column has the colour.
bool BlockIs(const QImage& shown, int row, int column, QRgb color)
{
    for (int y = 4 * row; y < 4 * row + 4; ++y) {
        for (int x = 4 * column; x < 4 * column + 4; ++x) {
            if (shown.pixel(x, y) != color) {
                return false;
            }
        }
    }
    return true;
}

ByteArray FilledWall(std::uint8_t index)
{
    return ByteArray(kWallBytes, index);
}

IndexedImage Still(int width, int height)
{
    IndexedImage image{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.pixels.push_back(static_cast<std::uint8_t>(20 + (x + 3 * y) % 50));
        }
    }
    return image;
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void runProgram();
    void layoutAndInitialState();
    void categoryTable_data();
    void categoryTable();
    void rotationAndEnlargement();
    void stillPicturesInTheirOwnColours();
    void framesInTheirOwnColours();
    void savesTheImageOnShow();
    void animationsThatCannotBeShown();
    void emptyListSaysWhy_data();
    void emptyListSaysWhy();
    void shortPaletteAndEmptyCategories();
};

// A folder that fails the check (whose messages the core's tests cover) gives one
// critical message naming the folder searched, on standard error too, and no
// window; names in any case do. Advice to keep the program beside the game is
// for the program's own folder only.
void TestMainWindow::runProgram()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    const QString folder = QString::fromStdString(game.root().string());
    RecordingPrompts prompts;

    QCOMPARE(RunProgram({"varek", folder, folder}, prompts), 2);
    QCOMPARE(RunProgram({"varek", folder + "/nowhere"}, prompts), 1);
    fs::remove(game / "PALETTE.PAL");
    const QString told = Captured(stderr, [&] {
        QCOMPARE(RunProgram({"varek", folder}, prompts), 1);
    });
    QCOMPARE(prompts.messages.size(), std::size_t{3});
    const QString searched = "\r\n\r\nFolder searched: " + QDir::toNativeSeparators(folder);
    QCOMPARE(prompts.messages[2].text,
             "Could not find file: PALETTE.PAL\r\n\r\nA Vorlund game folder holds the palette "
             "file PALETTE.PAL and the folders CELS3 (walls and sprites), STILLCEL (still "
             "pictures) and FLI (animations)." +
                 searched);
    QCOMPARE(prompts.messages[2].icon, MessageIcon::Critical);
    QVERIFY2(told.startsWith("varek: Could not find file: PALETTE.PAL\n  A Vorlund game folder"),
             qPrintable(told));
    QVERIFY(told.contains("\n  Folder searched: "));
    QCOMPARE(StartupMessage(GameFolder::Check(game.root()), game.root(), FolderOrigin::Own),
             "Could not find file: PALETTE.PAL" + kTail + searched);
    // The usage line and the list of arguments name the argument alike.
    const QString help = Captured(stdout, [] { AnswerWithoutWindow({"varek", "--help"}); });
    QVERIFY2(help.contains("[options] [game-folder]") && help.contains("\n  game-folder "),
             qPrintable(help));
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        QVERIFY(!widget->isVisible());
    }

    // Names in lower case, an empty palette, a file for CELS3: the check passes
    // and the window opens.
    game.Write("palette.pal", {});
    fs::rename(game / "STILLCEL", game / "stillcel");
    fs::remove_all(game / "CELS3");
    game.Write("cels3", {1});
    QString title;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == "frm" && widget->isVisible()) {
                title = widget->windowTitle();
            }
        }
        QApplication::exit(0);
    });
    QCOMPARE(RunProgram({"varek", folder + "/"}, prompts), 0);
    QCOMPARE(title, ProgramTitle());
    QCOMPARE(prompts.messages.size(), std::size_t{4});
    QVERIFY(prompts.messages[3].text.contains("holds 0 of the 256 colours"));
    QCOMPARE(WindowTitle(1, 2, 30), QStringLiteral("Varek - v1.2.30"));
}

// The start shows the first wall once, in the client area laid out as it always
// was; a row chosen by mouse or key is shown once; the window grows around that
// area, never smaller than it.
void TestMainWindow::layoutAndInitialState()
{
    GameFixture game;
    game.WriteWall("b.cel", FilledWall(6));
    game.WriteWall("A.CEL", FilledWall(5));
    game.WriteWall("c.CEL", FilledWall(7));
    game.WriteWall(".hidden.CEL", FilledWall(8));
    game.WriteWall("notes.txt", FilledWall(8));
    fs::create_directory(game / "CELS3/D.CEL");
    Session session;
    QVERIFY(session.Start(game.root()));
    QCOMPARE(session.Items(), (QStringList{"A.CEL", "b.cel", "c.CEL", "D.CEL"}));
    QCOMPARE(session.clicks.count(), 1);
    QCOMPARE(session.renders.count(), 1);
    QCOMPARE(session.list->currentRow(), 0);
    QVERIFY(session.pic->IsEnlarged());
    QCOMPARE(session.Shown().pixel(0, 0), RgbOf(GameFixture::kPaletteBlock, 5));
    QVERIFY(session.prompts.messages.empty());
    auto& window = session.window;
    QCOMPARE(window.objectName(), "frm");
    QCOMPARE(window.windowTitle(), ProgramTitle());
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.centralWidget()->size(), QSize(513, 319));

    const std::pair<QString, QRect> places[] = {
        {"File", {8, 32, 177, 279}},  {"pic", {192, 32, 320, 257}},
        {"opt0", {8, 8, 81, 21}},     {"opt1", {96, 8, 81, 21}},
        {"opt2", {184, 8, 81, 21}},   {"chkRotate", {288, 8, 65, 23}},
        {"hsb", {192, 296, 313, 17}}, {"cmdSave", {424, 8, 81, 21}},
    };
    QStringList names;
    for (const auto& [name, place] : places) {
        auto* control = window.findChild<QWidget*>(name);
        QVERIFY2(control, qPrintable(name));
        QCOMPARE(control->geometry(), place);
        names << name;
    }
    QStringList tabOrder;
    for (QWidget* w = session.list; tabOrder.size() < names.size(); w = w->nextInFocusChain()) {
        if (names.contains(w->objectName())) {
            tabOrder << w->objectName();
        }
    }
    QCOMPARE(tabOrder, names);

    QCOMPARE(session.opt->button(0)->text(), "Walls/Sprites");
    QCOMPARE(session.opt->button(1)->text(), "Other Art");
    QCOMPARE(session.opt->button(2)->text(), "Animated");
    QCOMPARE(session.rotate->text(), "Rotate");
    QCOMPARE(session.save->text(), "Save to BMP");
    QCOMPARE(session.opt->checkedId(), 0);
    QVERIFY(session.rotate->isChecked() && session.rotate->isEnabled());
    QVERIFY(!session.hsb->isEnabled());
    QVERIFY(session.save->isEnabled());
    QCOMPARE(QApplication::focusWidget(), session.list);
    QCOMPARE(session.hsb->singleStep(), 1);
    QCOMPARE(session.hsb->pageStep(), 1);

    session.ClickRow(1);
    QCOMPARE(session.list->currentRow(), 1);
    QCOMPARE(session.clicks.count(), 1);
    QCOMPARE(session.Shown().pixel(0, 0), RgbOf(GameFixture::kPaletteBlock, 6));
    session.ClickRow(1);
    QCOMPARE(session.clicks.count(), 0);
    QTest::keyClick(session.list, Qt::Key_Down);
    QCOMPARE(session.list->currentRow(), 2);
    QCOMPARE(session.clicks.count(), 1);
    QCOMPARE(session.renders.count(), 1);
    QCOMPARE(session.Shown().pixel(0, 0), RgbOf(GameFixture::kPaletteBlock, 7));

    const QRect list = session.list->geometry();
    const QRect pic = session.pic->geometry();
    const QRect bar = session.hsb->geometry();
    const QRect button = session.save->geometry();
    window.resize(window.size() + QSize(200, 100));
    QTRY_COMPARE(window.centralWidget()->size(), QSize(713, 419));
    QCOMPARE(session.list->geometry(), list.adjusted(0, 0, 0, 100));
    QCOMPARE(session.pic->geometry(), pic.adjusted(0, 0, 200, 100));
    QCOMPARE(session.hsb->geometry(), bar.translated(0, 100).adjusted(0, 0, 200, 0));
    QCOMPARE(session.save->geometry(), button);
    window.resize(200, 100);
    QTRY_COMPARE(window.centralWidget()->size(), QSize(513, 319));
    QCOMPARE(session.pic->geometry(), pic);

    // A folder named like a wall is listed, as the export counts it; chosen, it says
    // why it shows nothing.
    session.ClickRow(3);
    QCOMPARE(session.prompts.messages.size(), std::size_t{1});
    QVERIFY(session.prompts.messages[0].text.contains("it is not an ordinary file: a folder"));
}

void TestMainWindow::categoryTable_data()
{
    QTest::addColumn<int>("category");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<bool>("rotateEnabled");
    QTest::addColumn<bool>("frameBarEnabled");
    const std::pair<Qt::MouseButton, const char*> buttons[] = {
        {Qt::LeftButton, "left"}, {Qt::RightButton, "right"}, {Qt::MiddleButton, "middle"}};
    for (const auto& [button, side] : buttons) {
        QTest::addRow("walls, %s", side)
            << 0 << button << QStringList{"W1.CEL", "W2.CEL"} << true << false;
        QTest::addRow("other art, %s", side)
            << 1 << button << QStringList{"S1.CEL"} << false << false;
        QTest::addRow("animated, %s", side)
            << 2 << button << QStringList{"F1.FLI"} << false << true;
    }
}

void TestMainWindow::categoryTable()
{
    QFETCH(int, category);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QStringList, items);
    QFETCH(bool, rotateEnabled);
    QFETCH(bool, frameBarEnabled);
    GameFixture game;
    game.WriteWall("W1.CEL", FilledWall(5));
    game.WriteWall("W2.CEL", FilledWall(6));
    game.WriteStill("S1.CEL", Still(64, 40), TestBlock(3));
    game.WriteAnimation("F1.FLI", WriteAnimation(NumberedFrames(2)));
    Session session;
    QVERIFY(session.Start(game.root()));
    QTest::mouseClick(session.rotate, Qt::LeftButton);
    QVERIFY(!session.rotate->isChecked());
    // Start from another category so every row is a real switch.
    session.Press(category == 1 ? 2 : 1);

    session.Press(category, button);
    QCOMPARE(session.opt->checkedId(), category);
    QCOMPARE(session.Items(), items);
    QCOMPARE(session.list->currentRow(), 0);
    QCOMPARE(session.clicks.count(), 1);
    QCOMPARE(session.renders.count(), 1);
    QVERIFY(session.pic->HasPicture());
    QCOMPARE(session.rotate->isEnabled(), rotateEnabled);
    QCOMPARE(session.hsb->isEnabled(), frameBarEnabled);
    QVERIFY(session.save->isEnabled());
    QVERIFY(!session.rotate->isChecked());

    // Back to the walls, or the walls pressed again: the palette file is read again.
    const PaletteBlock other = TestBlock(9);
    game.WritePalette(ByteArray(other.begin(), other.end()));
    session.Press(0, button);
    QCOMPARE(session.clicks.count(), 1);
    QCOMPARE(session.renders.count(), 1);
    QCOMPARE(session.window.ArtPalette(), PaletteFromBlock(other));
    QCOMPARE(session.Shown().pixel(0, 0), RgbOf(other, 5));
    QVERIFY(session.rotate->isEnabled());
    QVERIFY(!session.rotate->isChecked());
    QVERIFY(session.prompts.messages.empty());
}

void TestMainWindow::rotationAndEnlargement()
{
    GameFixture game;
    ByteArray wall = MarkedWall(5000);
    std::fill(wall.begin() + kWallBytes, wall.end(), 9);  // never shown
    game.WriteWall("W.CEL", wall);
    Session session;
    QVERIFY(session.Start(game.root()));
    const auto color = [](int index) { return RgbOf(GameFixture::kPaletteBlock, index); };

    // Rotated a quarter turn clockwise: the file's row r, column c at row c, column 63 - r.
    QImage shown = session.Shown();
    QVERIFY(BlockIs(shown, 0, 63, color(1)));
    QVERIFY(BlockIs(shown, 63, 63, color(2)));
    QVERIFY(BlockIs(shown, 0, 0, color(3)));
    QVERIFY(BlockIs(shown, 63, 0, color(4)));
    QVERIFY(BlockIs(shown, 30, 30, color(0)));
    QCOMPARE(shown.pixel(256, 0), session.Background());

    session.ClearCounts();
    QTest::mouseClick(session.rotate, Qt::LeftButton);
    QCOMPARE(session.renders.count(), 1);
    // Whatever repaints the box, the enlargement is painted again.
    session.window.resize(700, 400);
    session.window.hide();
    session.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&session.window));
    session.window.resize(513, 319);
    session.pic->repaint();
    QTest::mouseClick(session.save, Qt::LeftButton);  // the dialog is cancelled
    QCOMPARE(session.prompts.requests.size(), std::size_t{1});
    QVERIFY(session.prompts.messages.empty());
    // Nothing was written: PALETTE.PAL, the three folders and W.CEL.
    QCOMPARE(std::distance(fs::recursive_directory_iterator(game.root()), {}), 5);
    shown = session.Shown();
    QVERIFY(BlockIs(shown, 0, 0, color(1)));
    QVERIFY(BlockIs(shown, 0, 63, color(2)));
    QVERIFY(BlockIs(shown, 63, 0, color(3)));
    QVERIFY(BlockIs(shown, 63, 63, color(4)));
    QCOMPARE(shown.pixel(300, 100), session.Background());
}

void TestMainWindow::stillPicturesInTheirOwnColours()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    game.WriteStill("S1.CEL", Still(64, 40), TestBlock(3));
    game.WriteStill("S2.CEL", Still(65, 10), TestBlock(4));
    game.WriteAnimation("F.FLI", WriteAnimation(NumberedFrames(1)));
    Session session;
    QVERIFY(session.Start(game.root()));
    session.Press(2);  // leaves a frame's colours in the palette
    // By the keyboard: the list and the palette follow the category.
    session.opt->button(2)->setFocus();
    session.ClearCounts();
    QTest::keyClick(session.opt->button(2), Qt::Key_Left);
    QCOMPARE(session.opt->checkedId(), 1);
    QCOMPARE(session.Items(), (QStringList{"S1.CEL", "S2.CEL"}));
    QCOMPARE(session.clicks.count(), 1);
    QVERIFY(!session.rotate->isEnabled());
    QCOMPARE(session.window.ArtPalette(), PaletteFromBlock(TestBlock(3)));
    const IndexedImage small = Still(64, 40);
    QImage shown = session.Shown();
    QVERIFY(session.pic->IsEnlarged());
    QVERIFY(BlockIs(shown, 39, 63, RgbOf(TestBlock(3), small.pixels[39 * 64 + 63])));
    QVERIFY(BlockIs(shown, 0, 1, RgbOf(TestBlock(3), small.pixels[1])));
    QCOMPARE(shown.pixel(0, 160), session.Background());

    session.ClickRow(1);
    const IndexedImage wide = Still(65, 10);
    shown = session.Shown();
    QVERIFY(!session.pic->IsEnlarged());
    QCOMPARE(shown.pixel(64, 9), RgbOf(TestBlock(4), wide.pixels[9 * 65 + 64]));
    QCOMPARE(shown.pixel(65, 0), session.Background());
    QCOMPARE(shown.pixel(0, 10), session.Background());
    QCOMPARE(session.window.ArtPalette(), PaletteFromBlock(TestBlock(4)));
}

// An animation shows each frame in its own colours, its first rendered once on a
// click, whether the bar stood at 1 already or past the new last frame.
void TestMainWindow::framesInTheirOwnColours()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    game.WriteAnimation("A.FLI", WriteAnimation(NumberedFrames(3)));
    game.WriteAnimation("B.FLI", WriteAnimation(NumberedFrames(5)));
    Session session;
    QVERIFY(session.Start(game.root()));
    session.Press(2);
    QCOMPARE(session.renders.count(), 1);
    QCOMPARE(session.hsb->value(), 1);
    session.ClickRow(1);
    QCOMPARE(session.clicks.count(), 1);
    QCOMPARE(session.renders.count(), 1);
    QCOMPARE(session.hsb->maximum(), 5);
    QTest::keyClick(session.hsb, Qt::Key_End);
    QCOMPARE(session.hsb->value(), 5);
    session.ClickRow(0);
    QCOMPARE(session.clicks.count(), 1);
    QCOMPARE(session.renders.count(), 1);
    QVERIFY(session.prompts.messages.empty());

    QCOMPARE(session.hsb->minimum(), 1);
    QCOMPARE(session.hsb->maximum(), 3);
    QCOMPARE(session.hsb->value(), 1);
    QVERIFY(!session.pic->IsEnlarged());
    QCOMPARE(session.pic->Picture().size(), QSize(320, 200));
    QCOMPARE(session.Shown().pixel(319, 199), RgbOf(TestBlock(1), 11));
    QCOMPARE(session.window.ArtPalette(), PaletteFromBlock(TestBlock(1)));

    QTest::keyClick(session.hsb, Qt::Key_Right);
    QCOMPARE(session.Shown().pixel(0, 0), RgbOf(TestBlock(2), 12));
    QCOMPARE(session.window.ArtPalette(), PaletteFromBlock(TestBlock(2)));
    // The arrow at the right end of the bar.
    QTest::mouseClick(session.hsb, Qt::LeftButton, {},
                      QPoint(session.hsb->width() - 4, session.hsb->height() / 2));
    QCOMPARE(session.hsb->value(), 3);
    QCOMPARE(session.Shown().pixel(0, 0), RgbOf(TestBlock(3), 13));

    session.Press(1);  // the frame's colours stay until a palette is loaded
    QCOMPARE(session.window.ArtPalette(), PaletteFromBlock(TestBlock(3)));
    session.Press(0);
    QCOMPARE(session.window.ArtPalette(), PaletteFromBlock(GameFixture::kPaletteBlock));
    QCOMPARE(session.Shown().pixel(0, 0), RgbOf(GameFixture::kPaletteBlock, 5));
}

// "Save to BMP" asks where, proposing the name of the file or frame on show, and
// writes that image over an older, longer file.
void TestMainWindow::savesTheImageOnShow()
{
    GameFixture game;
    game.WriteWall("A.B.CEL", MarkedWall());
    game.WriteAnimation("INTRO.FLI", WriteAnimation(NumberedFrames(100)));
    TempFolder out;
    const fs::path target = out / "wall.bmp";
    out.Write("wall.bmp", ByteArray(70000, 0xEE));
    Session session;
    QVERIFY(session.Start(game.root()));
    session.prompts.answers << QString::fromStdString(target.string());
    session.ClearCounts();
    QTest::mouseClick(session.save, Qt::LeftButton);

    QCOMPARE(session.renders.count(), 1);
    QCOMPARE(session.prompts.requests.size(), std::size_t{1});
    const SaveDialogRequest& request = session.prompts.requests[0];
    QCOMPARE(request.fileName, "A.B.bmp");
    QCOMPARE(request.title, "Save image as...");
    QCOMPARE(request.filters, (QStringList{"Bitmap Files (*.bmp)", "All Files (*)"}));
    QCOMPARE(request.filterIndex, 0);
    QCOMPARE(request.defaultExtension, "bmp");
    QCOMPARE(request.initialFolder, QString::fromStdString(game.root().string()));
    QVERIFY(ReadAll(target) == BuildBmpImage(BuildWallImage(MarkedWall(), true),
                                             PaletteFromBlock(GameFixture::kPaletteBlock)));
    QVERIFY(session.prompts.messages.empty());
    QCOMPARE(session.list->currentRow(), 0);

    session.Press(2);
    for (int i = 1; i < 9; ++i) {
        QTest::keyClick(session.hsb, Qt::Key_Right);
    }
    session.prompts.answers << QString::fromStdString((out / "frame9.bmp").string());
    QTest::mouseClick(session.save, Qt::LeftButton);
    QTest::keyClick(session.hsb, Qt::Key_End);
    session.prompts.answers << QString();
    QTest::mouseClick(session.save, Qt::LeftButton);
    QCOMPARE(session.prompts.requests.size(), std::size_t{3});
    QCOMPARE(session.prompts.requests[1].fileName, "INTRO-09.bmp");
    QCOMPARE(session.prompts.requests[2].fileName, "INTRO-100.bmp");
    const FrameRecord& frame = session.window.Frames().at(9);
    QVERIFY(ReadAll(out / "frame9.bmp") == BuildBmpImage(FrameImage(frame), frame.Colors));
    QCOMPARE(session.hsb->value(), 100);
}

// A file that cannot be shown says why once, in a box, and keeps saying it in the
// status bar; only what can be done is offered.
void TestMainWindow::animationsThatCannotBeShown()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    game.WriteAnimation("A-EMPTY.FLI", WriteFLIFile({}));
    std::vector<FliFrameData> faulty = EncodeAnimation(NumberedFrames(50));
    for (std::size_t i = 1; i < faulty.size(); ++i) {
        faulty[i].chunks = {{FLI_LC, ByteArray{0, 0, 1, 0}}};  // ends before its first row
    }
    faulty[2].chunks.resize(1152, faulty[2].chunks.front());
    game.WriteAnimation("B-FAULTY.FLI", WriteFLIFile(faulty));
    ByteArray cut = WriteFLIFile(EncodeAnimation(NumberedFrames(3)));
    cut.resize(cut.size() - 100);
    game.WriteAnimation("C-CUT.FLI", cut);
    Session session;
    QVERIFY(session.Start(game.root()));
    auto& messages = session.prompts.messages;

    session.Press(2);
    QCOMPARE(messages.size(), std::size_t{1});
    QVERIFY(messages[0].text.endsWith("Corrupt: the header counts 0 frames"));
    QVERIFY(!session.pic->HasPicture());
    QCOMPARE(session.hsb->minimum(), 1);
    QCOMPARE(session.hsb->maximum(), 1);
    auto* facts = session.window.findChild<QLabel*>("pictureInfo");
    QCOMPARE(facts->text(), "A-EMPTY.FLI: Corrupt: the header counts 0 frames");
    // The box says it as well: something is painted on its background.
    QCOMPARE(session.pic->Note(), facts->text());
    QImage blank(session.pic->size(), QImage::Format_RGB32);
    blank.fill(session.Background());
    QVERIFY(session.Shown().convertToFormat(QImage::Format_RGB32) != blank);
    QTest::keyClick(session.hsb, Qt::Key_Right);
    QCOMPARE(messages.size(), std::size_t{1});
    for (const char* action : {"Save to BMP", "Export Animation...", "Copy", "Play"}) {
        QVERIFY2(!ActionNamed(session.window, action)->isEnabled(), action);
    }
    QTest::mouseClick(session.save, Qt::LeftButton);
    QCOMPARE(messages.size(), std::size_t{2});
    QVERIFY(messages[1].text.startsWith("Nothing was saved: "));
    QVERIFY(session.prompts.requests.empty());
    QCOMPARE(facts->text(), "A-EMPTY.FLI: Corrupt: the header counts 0 frames");

    // However many chunks are faulty: one message naming the first few and their
    // frames, and every frame decoded is there.
    session.ClickRow(1);
    QCOMPARE(messages.size(), std::size_t{3});
    QCOMPARE(messages[2].icon, MessageIcon::None);
    const QString text = messages[2].text;
    QVERIFY(
        text.startsWith("Error: Truncated: in frame 2, the line-compression chunk holds 4 bytes"));
    QCOMPARE(text.count("in frame 3, "), 9);
    QVERIFY(text.contains("\nand 1,190 more.\n"));
    QVERIFY(text.contains("B-FAULTY.FLI: 1,200 faults while loading."));
    QVERIFY(text.endsWith("The 50 frames decoded can be viewed."));
    QCOMPARE(session.hsb->maximum(), 50);
    QCOMPARE(facts->text(), "B-FAULTY.FLI \u00b7 320\u00d7200");
    QVERIFY(ActionNamed(session.window, "Export Animation...")->isEnabled());

    session.ClickRow(2);
    QCOMPARE(messages.size(), std::size_t{4});
    QVERIFY(messages[3].text.contains("could not be read to its end"));
    const int kept = static_cast<int>(session.window.Frames().FrameCount());
    QVERIFY(kept >= 2);
    QCOMPARE(session.hsb->maximum(), kept);
    QTest::keyClick(session.hsb, Qt::Key_Right);
    QCOMPARE(session.Shown().pixel(0, 0), RgbOf(TestBlock(2), 12));
    QCOMPARE(messages.size(), std::size_t{4});
}

void TestMainWindow::emptyListSaysWhy_data()
{
    QTest::addColumn<QString>("shape");  // what STILLCEL becomes once the window is open
    QTest::newRow("folder removed") << "removed";
    QTest::newRow("folder a link to itself") << "loop";
    QTest::newRow("folder empty") << "empty";
}

// A category whose folder cannot be listed, or holds nothing, shows an empty list
// that says why, in the list itself, without a message box; once the folder is
// back, the list is too.
void TestMainWindow::emptyListSaysWhy()
{
    QFETCH(QString, shape);
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    game.WriteStill("S1.CEL", Still(64, 40), TestBlock(3));
    const GameFolder folder = GameFolder::Open(game.root());
    const fs::path stills = folder.CategoryFolder(ArtCategory::OtherArt);
    Session session;
    QVERIFY(session.Start(game.root()));
    auto* note = session.window.findChild<QLabel*>("listNote");
    QVERIFY(note != nullptr && !note->isVisible());

    fs::remove_all(stills);
    if (shape == "loop") {
        fs::create_directory_symlink(stills.filename(), stills);
    } else if (shape == "empty") {
        fs::create_directory(stills);
    }
    QString expected = QString::fromStdString(stills.string()) + " holds no files to show.";
    QString status;
    try {
        folder.ReadFileList(ArtCategory::OtherArt);
    } catch (const Error& error) {
        QCOMPARE(error.kind(), shape == "loop" ? ErrorKind::CannotRead : ErrorKind::NotFound);
        const QString reason = QString::fromStdString(error.what());
        expected = "Cannot list " + QString::fromStdString(stills.string()) + ".\n\n" + reason;
        status = "Cannot list " + QString::fromStdString(stills.string()) + ": " + reason;
    }
    QCOMPARE(status.isEmpty(), shape == "empty");
    session.Press(1);
    QCOMPARE(session.list->count(), 0);
    QVERIFY(note->isVisible());
    QCOMPARE(note->text().remove(QChar(0x200B)), expected);
    QCOMPARE(session.window.statusBar()->currentMessage(), status);
    QVERIFY(session.prompts.messages.empty());

    fs::remove(stills);
    game.WriteStill("S1.CEL", Still(64, 40), TestBlock(3));
    session.Press(1);
    QCOMPARE(session.Items(), QStringList{"S1.CEL"});
    QVERIFY(!note->isVisible());
    QVERIFY(session.pic->HasPicture());
}

// A short palette is reported and the wall still shown; with no animation or still
// picture to show, the frame bar and "Save to BMP" say so.
void TestMainWindow::shortPaletteAndEmptyCategories()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    game.WritePalette(
        ByteArray(GameFixture::kPaletteBlock.begin(), GameFixture::kPaletteBlock.begin() + 301));
    Session session;
    QVERIFY(session.Start(game.root()));
    auto& messages = session.prompts.messages;
    QCOMPARE(messages.size(), std::size_t{1});
    QVERIFY(messages[0].text.contains("holds 100 of the 256 colours"));
    const Palette& palette = session.window.ArtPalette();
    QCOMPARE(palette[99], PaletteFromBlock(GameFixture::kPaletteBlock)[99]);
    QCOMPARE(palette[100], ColorValue{0});
    QVERIFY(session.pic->HasPicture());

    session.Press(2);
    QCOMPARE(session.clicks.count(), 0);
    QVERIFY(!session.pic->HasPicture());
    QVERIFY(session.hsb->isEnabled());
    QTest::keyClick(session.hsb, Qt::Key_Right);
    QCOMPARE(session.renders.count(), 1);
    QCOMPARE(messages.size(), std::size_t{2});
    QVERIFY(messages[1].text.contains("No animation"));

    session.Press(1);
    QTest::mouseClick(session.save, Qt::LeftButton);
    QCOMPARE(messages.size(), std::size_t{3});
    QVERIFY(messages[2].text.contains("nothing to save"));
    QVERIFY(session.prompts.requests.empty());
}

int RunMainWindowTests(int argc, char** argv)
{
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_MainWindow.moc"
