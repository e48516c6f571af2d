#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QTest>

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
    void startupChecks_data();
    void startupChecks();
    void runProgram();
    void layoutAndInitialState();
    void startupShowsFirstWallOnce();
    void categoryTable_data();
    void categoryTable();
    void pressingSelectedCategoryReloadsPalette();
    void keyboardCategoryChangeKeepsListInStep();
    void listSelectionByMouseAndKeys();
    void rotationAndEnlargement();
    void stillPicturesInTheirOwnColours();
    void framesInTheirOwnColours();
    void animationClickRendersFrameOneOnce();
    void savesTheBmpImage();
    void savesAnimationFrames();
    void cancelWritesNothing();
    void failedSaveKeepsOldFile();
    void animationsThatCannotBeShown();
    void frameBarBeforeAnyAnimation();
    void filesThatCannotBeShown();
    void shortPalette();
};

void TestMainWindow::startupChecks_data()
{
    QTest::addColumn<QStringList>("removed");
    QTest::addColumn<QString>("shape");  // how the remaining items are made
    QTest::addColumn<QString>("message");
    const QString noFile = QStringLiteral("Could not find file: ");
    const QString noPath = QStringLiteral("Could not find path: ");
    QTest::newRow("no palette") << QStringList{"PALETTE.PAL"} << ""
                                << noFile + "PALETTE.PAL" + kTail;
    QTest::newRow("no CELS3") << QStringList{"CELS3"} << "" << noPath + "CELS3" + kTail;
    QTest::newRow("no STILLCEL") << QStringList{"STILLCEL"} << "" << noPath + "STILLCEL" + kTail;
    QTest::newRow("no FLI") << QStringList{"FLI"} << "" << noPath + "FLI" + kTail;
    QTest::newRow("first missing wins")
        << QStringList{"CELS3", "PALETTE.PAL"} << "" << noFile + "PALETTE.PAL" + kTail;
    QTest::newRow("palette is a folder")
        << QStringList{"PALETTE.PAL"} << "palette folder" << noFile + "PALETTE.PAL" + kTail;
    QTest::newRow("CELS3 is a file") << QStringList{"CELS3"} << "CELS3 file" << QString();
    QTest::newRow("names in lower case") << QStringList{} << "lower case" << QString();
    QTest::newRow("empty palette") << QStringList{} << "empty palette" << QString();
}

void TestMainWindow::startupChecks()
{
    QFETCH(QStringList, removed);
    QFETCH(QString, shape);
    QFETCH(QString, message);
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    for (const QString& name : removed) {
        fs::remove_all(game / name.toStdString());
    }
    if (shape == "palette folder") {
        fs::create_directory(game / "PALETTE.PAL");
    } else if (shape == "CELS3 file") {
        game.Write("CELS3", ByteArray{1});
    } else if (shape == "lower case") {
        fs::rename(game / "PALETTE.PAL", game / "palette.pal");
        fs::rename(game / "CELS3", game / "cels3");
    } else if (shape == "empty palette") {
        game.WritePalette({});
    }

    Session session;
    const bool started = session.Start(game.root());
    if (message.isEmpty()) {
        QVERIFY(started);
        QVERIFY(session.window.isVisible());
        return;
    }
    QVERIFY(!started);
    QVERIFY(!session.window.isVisible());
    QCOMPARE(session.prompts.messages.size(), std::size_t{1});
    QCOMPARE(session.prompts.messages[0].text,
             message + "\r\n\r\nFolder searched: " +
                 QDir::toNativeSeparators(QString::fromStdString(game.root().string())));
    QCOMPARE(session.prompts.messages[0].icon, MessageIcon::Critical);
    QCOMPARE(session.clicks.count(), 0);
}

void TestMainWindow::runProgram()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    const QString folder = QString::fromStdString(game.root().string());
    RecordingPrompts prompts;

    QCOMPARE(RunProgram({"varek", folder, folder}, prompts), 2);
    QCOMPARE(RunProgram({"varek", folder + "/nowhere"}, prompts), 1);
    fs::remove(game / "PALETTE.PAL");
    QCOMPARE(RunProgram({"varek", folder}, prompts), 1);
    QCOMPARE(prompts.messages.size(), std::size_t{3});
    QCOMPARE(prompts.messages[2].text,
             "Could not find file: PALETTE.PAL" + kTail +
                 "\r\n\r\nFolder searched: " + QDir::toNativeSeparators(folder));
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        QVERIFY(!widget->isVisible());
    }

    game.WritePalette(ByteArray(768, 7));
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
    QCOMPARE(WindowTitle(1, 2, 30), QStringLiteral("Varek - v1.2.30"));
}

void TestMainWindow::layoutAndInitialState()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    Session session;
    QVERIFY(session.Start(game.root()));
    auto& window = session.window;
    QCOMPARE(window.objectName(), "frm");
    QCOMPARE(window.windowTitle(), ProgramTitle());
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
}

void TestMainWindow::startupShowsFirstWallOnce()
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
    QCOMPARE(session.Items(), (QStringList{"A.CEL", "b.cel", "c.CEL"}));
    QCOMPARE(session.clicks.count(), 1);
    QCOMPARE(session.renders.count(), 1);
    QCOMPARE(session.list->currentRow(), 0);
    QVERIFY(session.pic->IsEnlarged());
    QCOMPARE(session.Shown().pixel(0, 0), RgbOf(GameFixture::kPaletteBlock, 5));
    QVERIFY(session.prompts.messages.empty());
}

void TestMainWindow::categoryTable_data()
{
    QTest::addColumn<int>("category");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<bool>("rotateEnabled");
    QTest::addColumn<bool>("frameBarEnabled");
    for (const auto button : {Qt::LeftButton, Qt::RightButton}) {
        const char* side = button == Qt::LeftButton ? "left" : "right";
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

    session.Press(0, button);
    QVERIFY(session.rotate->isEnabled());
    QVERIFY(!session.rotate->isChecked());
    QVERIFY(session.prompts.messages.empty());
}

void TestMainWindow::pressingSelectedCategoryReloadsPalette()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    Session session;
    QVERIFY(session.Start(game.root()));
    const PaletteBlock other = TestBlock(9);
    game.WritePalette(ByteArray(other.begin(), other.end()));
    for (const auto button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        session.Press(0, button);
        QCOMPARE(session.clicks.count(), 1);
        QCOMPARE(session.renders.count(), 1);
    }
    QCOMPARE(session.window.ArtPalette(), PaletteFromBlock(other));
    QCOMPARE(session.Shown().pixel(0, 0), RgbOf(other, 5));
}

void TestMainWindow::keyboardCategoryChangeKeepsListInStep()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    game.WriteStill("S1.CEL", Still(64, 40), TestBlock(3));
    Session session;
    QVERIFY(session.Start(game.root()));
    session.opt->button(0)->setFocus();
    session.ClearCounts();
    QTest::keyClick(session.opt->button(0), Qt::Key_Right);
    QCOMPARE(session.opt->checkedId(), 1);
    QCOMPARE(session.Items(), QStringList{"S1.CEL"});
    QCOMPARE(session.clicks.count(), 1);
    QVERIFY(!session.rotate->isEnabled());
    QCOMPARE(session.window.ArtPalette(), PaletteFromBlock(TestBlock(3)));
}

void TestMainWindow::listSelectionByMouseAndKeys()
{
    GameFixture game;
    game.WriteWall("W0.CEL", FilledWall(5));
    game.WriteWall("W1.CEL", FilledWall(6));
    game.WriteWall("W2.CEL", FilledWall(7));
    Session session;
    QVERIFY(session.Start(game.root()));
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
    session.Press(1);
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

void TestMainWindow::framesInTheirOwnColours()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    game.WriteAnimation("F.FLI", WriteAnimation(NumberedFrames(3)));
    Session session;
    QVERIFY(session.Start(game.root()));
    session.Press(2);
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

void TestMainWindow::animationClickRendersFrameOneOnce()
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

    session.ClickRow(1);  // the bar already stands at 1
    QCOMPARE(session.clicks.count(), 1);
    QCOMPARE(session.renders.count(), 1);
    QCOMPARE(session.hsb->maximum(), 5);

    QTest::keyClick(session.hsb, Qt::Key_End);
    QCOMPARE(session.hsb->value(), 5);
    session.ClickRow(0);  // from 5, past the new last frame
    QCOMPARE(session.clicks.count(), 1);
    QCOMPARE(session.renders.count(), 1);
    QCOMPARE(session.hsb->value(), 1);
    QCOMPARE(session.hsb->maximum(), 3);
    QCOMPARE(session.window.ArtPalette(), PaletteFromBlock(TestBlock(1)));
    QVERIFY(session.prompts.messages.empty());
}

void TestMainWindow::savesTheBmpImage()
{
    GameFixture game;
    game.WriteWall("A.B.CEL", MarkedWall());
    TempFolder out;
    const fs::path target = out / "wall.bmp";
    out.Write("wall.bmp", ByteArray(70000, 0xEE));  // older and longer
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

    const ByteArray expected = BuildBmpImage(BuildWallImage(MarkedWall(), true),
                                             PaletteFromBlock(GameFixture::kPaletteBlock));
    QCOMPARE(expected.size(), std::size_t{5174});
    QVERIFY(ReadAll(target) == expected);
    QVERIFY(session.prompts.messages.empty());
    QCOMPARE(session.list->currentRow(), 0);
}

void TestMainWindow::savesAnimationFrames()
{
    GameFixture game;
    game.WriteAnimation("INTRO.FLI", WriteAnimation(NumberedFrames(100)));
    TempFolder out;
    Session session;
    QVERIFY(session.Start(game.root()));
    session.Press(2);
    for (int i = 1; i < 9; ++i) {
        QTest::keyClick(session.hsb, Qt::Key_Right);
    }
    session.prompts.answers << QString::fromStdString((out / "frame9.bmp").string());
    QTest::mouseClick(session.save, Qt::LeftButton);
    QTest::keyClick(session.hsb, Qt::Key_End);
    session.prompts.answers << QString();
    QTest::mouseClick(session.save, Qt::LeftButton);

    QCOMPARE(session.prompts.requests.size(), std::size_t{2});
    QCOMPARE(session.prompts.requests[0].fileName, "INTRO-09.bmp");
    QCOMPARE(session.prompts.requests[1].fileName, "INTRO-100.bmp");
    const FrameRecord& frame = session.window.Frames().at(9);
    const ByteArray expected = BuildBmpImage(FrameImage(frame), frame.Colors);
    QCOMPARE(expected.size(), std::size_t{65078});
    QVERIFY(ReadAll(out / "frame9.bmp") == expected);
    QCOMPARE(session.hsb->value(), 100);
}

void TestMainWindow::cancelWritesNothing()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    Session session;
    QVERIFY(session.Start(game.root()));
    QTest::mouseClick(session.save, Qt::LeftButton);
    QCOMPARE(session.prompts.requests.size(), std::size_t{1});
    QVERIFY(session.prompts.messages.empty());
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(game.root())) {
        ++entries;
    }
    QCOMPARE(entries, std::size_t{5});  // PALETTE.PAL, three folders, W.CEL
    QVERIFY(session.pic->IsEnlarged());
}

void TestMainWindow::failedSaveKeepsOldFile()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    TempFolder out;
    const ByteArray old(300, 0xAB);
    const fs::path locked = out.Write("locked.bmp", old);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read);
    Session session;
    QVERIFY(session.Start(game.root()));
    session.prompts.answers << QString::fromStdString(locked.string())
                            << QString::fromStdString((out / "gone" / "x.bmp").string());
    QTest::mouseClick(session.save, Qt::LeftButton);
    QTest::mouseClick(session.save, Qt::LeftButton);

    QCOMPARE(session.prompts.messages.size(), std::size_t{2});
    QVERIFY(session.prompts.messages[0].text.contains(QString::fromStdString(locked.string())));
    QVERIFY(session.prompts.messages[0].text.contains("read-only"));
    QVERIFY(session.prompts.messages[1].text.contains("x.bmp"));
    QVERIFY(ReadAll(locked) == old);
    QVERIFY(!fs::exists(out / "gone"));
    QCOMPARE(static_cast<int>(
                 std::distance(fs::directory_iterator(out.path()), fs::directory_iterator())),
             1);
}

void TestMainWindow::animationsThatCannotBeShown()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    game.WriteAnimation("A-EMPTY.FLI", WriteFLIFile({}));
    // Frame 2 holds a line-compression chunk that ends early; frame 3 is fine.
    std::vector<FliFrameData> frames = EncodeAnimation(NumberedFrames(3));
    frames[1].chunks = {{FLI_LC, ByteArray{0, 0, 1, 0}}};
    game.WriteAnimation("B-FAULTY.FLI", WriteFLIFile(frames));
    ByteArray cut = WriteFLIFile(EncodeAnimation(NumberedFrames(3)));
    cut.resize(cut.size() - 100);
    game.WriteAnimation("C-CUT.FLI", cut);
    Session session;
    QVERIFY(session.Start(game.root()));
    auto& messages = session.prompts.messages;

    session.Press(2);
    QCOMPARE(messages.size(), std::size_t{1});
    QVERIFY(messages[0].text.contains("holds no frames"));
    QVERIFY(!session.pic->HasPicture());
    QCOMPARE(session.hsb->minimum(), 1);
    QCOMPARE(session.hsb->maximum(), 1);
    QTest::mouseClick(session.save, Qt::LeftButton);
    QCOMPARE(messages.size(), std::size_t{2});
    QVERIFY(messages[1].text.startsWith("Cannot save"));
    QVERIFY(session.prompts.requests.empty());

    session.ClickRow(1);
    QCOMPARE(messages.size(), std::size_t{3});
    QVERIFY(messages[2].text.startsWith("Error: "));
    QCOMPARE(messages[2].icon, MessageIcon::None);
    QCOMPARE(session.hsb->maximum(), 3);
    QTest::keyClick(session.hsb, Qt::Key_End);
    QCOMPARE(session.Shown().pixel(0, 0), RgbOf(TestBlock(3), 13));

    session.ClickRow(2);
    QCOMPARE(messages.size(), std::size_t{4});
    QVERIFY(messages[3].text.contains("could not be read to its end"));
    const int kept = static_cast<int>(session.window.Frames().UpperBound());
    QVERIFY(kept >= 2);
    QCOMPARE(session.hsb->maximum(), kept);
    QTest::keyClick(session.hsb, Qt::Key_Right);
    QCOMPARE(session.Shown().pixel(0, 0), RgbOf(TestBlock(2), 12));
    QCOMPARE(messages.size(), std::size_t{4});
}

void TestMainWindow::frameBarBeforeAnyAnimation()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    Session session;
    QVERIFY(session.Start(game.root()));
    session.Press(2);
    QCOMPARE(session.clicks.count(), 0);
    QVERIFY(!session.pic->HasPicture());
    QVERIFY(session.hsb->isEnabled());
    QTest::keyClick(session.hsb, Qt::Key_Right);
    QCOMPARE(session.renders.count(), 1);
    QCOMPARE(session.prompts.messages.size(), std::size_t{1});
    QVERIFY(session.prompts.messages[0].text.contains("No animation"));

    session.Press(1);  // STILLCEL is empty as well
    QTest::mouseClick(session.save, Qt::LeftButton);
    QCOMPARE(session.prompts.messages.size(), std::size_t{2});
    QVERIFY(session.prompts.messages[1].text.contains("nothing to save"));
    QVERIFY(session.prompts.requests.empty());
}

void TestMainWindow::filesThatCannotBeShown()
{
    GameFixture game;
    game.WriteWall("A-SHORT.CEL", ByteArray(100, 5));
    game.WriteWall("B-GONE.CEL", FilledWall(5));
    IndexedImage still = Still(64, 40);
    ByteArray cutStill = EncodeCelImage(still, TestBlock(3));
    cutStill.resize(cutStill.size() - 10);
    game.Write("STILLCEL/S.CEL", cutStill);
    Session session;
    QVERIFY(session.Start(game.root()));
    auto& messages = session.prompts.messages;
    QCOMPARE(messages.size(), std::size_t{1});
    QVERIFY(messages[0].text.contains("A-SHORT.CEL"));
    QVERIFY(messages[0].text.contains("4096"));
    QVERIFY(!session.pic->HasPicture());
    QTest::mouseClick(session.save, Qt::LeftButton);
    QCOMPARE(messages.size(), std::size_t{2});
    QVERIFY(messages[1].text.startsWith("Cannot save"));
    QVERIFY(session.prompts.requests.empty());

    fs::remove(game / "CELS3/B-GONE.CEL");
    session.ClickRow(1);
    QCOMPARE(messages.size(), std::size_t{3});
    QVERIFY(messages[2].text.contains("missing or empty"));

    session.Press(1);
    QCOMPARE(messages.size(), std::size_t{4});
    QVERIFY(messages[3].text.contains("2550 of its 2560 pixel bytes"));
    QVERIFY(!session.pic->HasPicture());
}

void TestMainWindow::shortPalette()
{
    GameFixture game;
    game.WriteWall("W.CEL", FilledWall(5));
    game.WritePalette(
        ByteArray(GameFixture::kPaletteBlock.begin(), GameFixture::kPaletteBlock.begin() + 301));
    Session session;
    QVERIFY(session.Start(game.root()));
    QCOMPARE(session.prompts.messages.size(), std::size_t{1});
    QVERIFY(session.prompts.messages[0].text.contains("holds 100 of the 256 colours"));
    const Palette& palette = session.window.ArtPalette();
    QCOMPARE(palette[99], PaletteFromBlock(GameFixture::kPaletteBlock)[99]);
    QCOMPARE(palette[100], ColorValue{0});
    QVERIFY(session.pic->HasPicture());
}

int RunMainWindowTests(int argc, char** argv)
{
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_MainWindow.moc"
