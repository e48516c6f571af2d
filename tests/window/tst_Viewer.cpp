// What the window offers around its client area: menus and shortcuts, other
// folders, copying, zoom, playback, the status bar and the start without a folder.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressDialog>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QTest>

#include "GameFixture.h"
#include "WindowDriver.h"
#include "window/Program.h"

namespace fs = std::filesystem;
using namespace varek;
using namespace varek::test;

namespace {

// The window's action whose menu text, without its '&', is text.
QAction* ActionNamed(MainWindow& window, const QString& text)
{
    for (QAction* action : window.findChildren<QAction*>()) {
        if (action->text().remove(u'&') == text) {
            return action;
        }
    }
    return nullptr;
}

IndexedImage Gradient(int width, int height)
{
    IndexedImage image{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.pixels.push_back(static_cast<std::uint8_t>((x + 7 * y) % 256));
        }
    }
    return image;
}

}  // namespace

class TestViewer : public QObject {
    Q_OBJECT

private slots:
    void frameBarStepsByKeyboardAndPlayback();
    void actionsFollowTheCategory();
    void otherFoldersByMenuAndDrop();
    void copyZoomAndScrollBars();
    void startWithoutFolderAsksForOne();
    void exportAnimationFromTheMenu();
    void costlyAnimationsLoadOnAThreadOfTheirOwn();
};

// The frame bar takes the keys a scroll bar knows once Tab or a click focuses it;
// playback steps it at the file's speed and loops, and a step by hand stops it.
void TestViewer::frameBarStepsByKeyboardAndPlayback()
{
    GameFixture game;
    game.WriteAnimation("A.FLI", WriteAnimation(NumberedFrames(6), 1));
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    session.Press(2);
    QCOMPARE(session.hsb->value(), 1);

    // Tab from the check box before it, then the keys a scroll bar knows.
    session.rotate->setEnabled(true);
    session.rotate->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), session.hsb);
    QTest::keyClick(session.hsb, Qt::Key_Right);
    QCOMPARE(session.hsb->value(), 2);
    QTest::keyClick(session.hsb, Qt::Key_End);
    QCOMPARE(session.hsb->value(), 6);
    QTest::keyClick(session.hsb, Qt::Key_PageUp);
    QCOMPARE(session.hsb->value(), 5);
    QTest::keyClick(session.hsb, Qt::Key_Home);
    QCOMPARE(session.hsb->value(), 1);

    // A click focuses it too, and the list keeps its own keys.
    session.list->setFocus();
    QTest::mouseClick(session.hsb, Qt::LeftButton, {},
                      QPoint(session.hsb->width() - 4, session.hsb->height() / 2));
    QCOMPARE(QApplication::focusWidget(), session.hsb);
    QCOMPARE(session.hsb->value(), 2);
    QTest::keyClick(session.hsb, Qt::Key_PageDown);
    QCOMPARE(session.hsb->value(), 3);
    QTest::keyClick(session.hsb, Qt::Key_Left);
    QCOMPARE(session.hsb->value(), 2);

    QTest::keyClick(session.hsb, Qt::Key_Home);
    auto* button = session.window.findChild<QToolButton*>("cmdPlay");
    QVERIFY(button && button->isEnabled());
    QTest::keyClick(&session.window, Qt::Key_Space);
    QCOMPARE(button->text(), "Pause");
    QTRY_VERIFY(session.hsb->value() > 1);
    QTRY_COMPARE(session.hsb->value(), 1);  // it loops
    QVERIFY(session.window.findChild<QLabel*>("frameInfo")->text().startsWith("picture "));

    QTest::keyClick(session.hsb, Qt::Key_End);
    QCOMPARE(button->text(), "Play");
    QCOMPARE(session.hsb->value(), 6);
    QTest::qWait(50);
    QCOMPARE(session.hsb->value(), 6);
}

void TestViewer::actionsFollowTheCategory()
{
    GameFixture game;
    game.WriteWall("W.CEL", ByteArray(kWallBytes, 5));
    game.WriteAnimation("A.FLI", WriteAnimation(NumberedFrames(3)));
    game.WriteAnimation("B.FLI", WriteAnimation(NumberedFrames(1)));
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    QAction* copy = ActionNamed(session.window, "Copy");
    QAction* play = ActionNamed(session.window, "Play");
    QAction* save = ActionNamed(session.window, "Save to BMP");
    QVERIFY(copy && play && save);
    QCOMPARE(copy->shortcut(), QKeySequence(QKeySequence::Copy));
    QCOMPARE(save->shortcut(), QKeySequence(QKeySequence::Save));
    QCOMPARE(play->shortcut(), QKeySequence(Qt::Key_Space));

    const struct {
        int category;
        int row;
        bool copy;
        bool play;
    } cases[] = {
        {0, 0, true, false}, {1, -1, false, false}, {2, 0, true, true}, {2, 1, true, false}};
    for (const auto& c : cases) {
        session.Press(c.category);
        if (c.row > 0) {
            session.ClickRow(c.row);
        }
        QVERIFY(save->isEnabled());
        QCOMPARE(copy->isEnabled(), c.copy);
        QCOMPARE(play->isEnabled(), c.play);
    }

    // Ctrl+S is the button: the same save dialog, with the same proposal; the
    // status bar then says where the file went.
    session.Press(0);
    const QString target = QString::fromStdString((game / "W.bmp").string());
    session.prompts.answers = {target};
    QTest::keyClick(&session.window, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(session.prompts.requests.size(), std::size_t{1});
    QCOMPARE(session.prompts.requests[0].fileName, "W.bmp");
    QCOMPARE(session.window.statusBar()->currentMessage(),
             "Saved W.bmp (" + QLocale().toString(5174) + " bytes) to " + target);
}

void TestViewer::otherFoldersByMenuAndDrop()
{
    GameFixture first;
    first.WriteWall("FIRST.CEL", ByteArray(kWallBytes, 5));
    GameFixture second;
    second.WriteWall("SECOND.CEL", ByteArray(kWallBytes, 6));
    GameFixture broken;
    fs::remove_all(broken / "FLI");
    WindowDriver session;
    QVERIFY(session.Start(first.root()));

    // A folder that fails a check: its message, and the folder on show stays.
    session.prompts.folderAnswers = {QString::fromStdString(broken.root().string())};
    QTest::keyClick(&session.window, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(session.prompts.folderTitles, QStringList{"Choose the Vorlund game folder"});
    QCOMPARE(session.prompts.messages.size(), std::size_t{1});
    QVERIFY(session.prompts.messages[0].text.startsWith("Could not find path: FLI"));
    QVERIFY(session.prompts.messages[0].text.endsWith(
        QDir::toNativeSeparators(QString::fromStdString(broken.root().string()))));
    QCOMPARE(session.window.GameFolderPath(), first.root());
    QCOMPARE(session.list->item(0)->text(), "FIRST.CEL");

    // Dropped on the window, a folder opens as the menu opens it.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(second.root().string()))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&session.window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&session.window, &drop);
    QCOMPARE(session.window.GameFolderPath(), second.root());
    QCOMPARE(session.list->item(0)->text(), "SECOND.CEL");
    QVERIFY(session.pic->HasPicture());
    QCOMPARE(RecentFolders().value(0),
             QDir::toNativeSeparators(QString::fromStdString(second.root().string())));
}

void TestViewer::copyZoomAndScrollBars()
{
    GameFixture game;
    game.WriteStill("BIG.CEL", Gradient(640, 400), TestBlock(3));
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    session.Press(1);

    // The picture at 1x with its own 256 colours, whatever is painted.
    QTest::keyClick(&session.window, Qt::Key_C, Qt::ControlModifier);
    const QImage copied = QApplication::clipboard()->image();
    QCOMPARE(copied.size(), QSize(640, 400));
    QCOMPARE(copied.colorCount(), 256);
    QCOMPARE(copied.pixel(5, 2), RgbOf(TestBlock(3), (5 + 14) % 256));
    QCOMPARE(copied.pixel(639, 399), RgbOf(TestBlock(3), (639 + 7 * 399) % 256));

    // At the default size the box is cut, with no scroll bars; at 1x it scrolls.
    QVERIFY(!session.pic->horizontalScrollBar()->isVisible());
    ActionNamed(session.window, "1\u00d7")->trigger();
    QTRY_VERIFY(session.pic->horizontalScrollBar()->isVisible());
    QTRY_VERIFY(session.pic->verticalScrollBar()->isVisible());
    session.pic->horizontalScrollBar()->setValue(session.pic->horizontalScrollBar()->maximum());
    session.pic->verticalScrollBar()->setValue(session.pic->verticalScrollBar()->maximum());
    const QImage corner = session.pic->viewport()->grab().toImage();
    QCOMPARE(corner.pixel(corner.width() - 1, corner.height() - 1),
             RgbOf(TestBlock(3), (639 + 7 * 399) % 256));

    // Zoomed in, each picture pixel is a block of one colour.
    QTest::keyClick(&session.window, Qt::Key_Plus, Qt::ControlModifier);
    session.pic->horizontalScrollBar()->setValue(0);
    session.pic->verticalScrollBar()->setValue(0);
    const QImage twice = session.pic->viewport()->grab().toImage();
    for (const QPoint at : {QPoint(0, 0), QPoint(1, 1), QPoint(10, 3), QPoint(11, 2)}) {
        QCOMPARE(twice.pixel(at), RgbOf(TestBlock(3), (at.x() / 2 + 7 * (at.y() / 2)) % 256));
    }
    QCOMPARE(session.window.findChild<QLabel*>("zoomInfo")->text(), "2\u00d7");

    // Fit shows it whole: the last pixel lands inside the box.
    ActionNamed(session.window, "Fit")->trigger();
    QTRY_VERIFY(!session.pic->horizontalScrollBar()->isVisible());
    QCOMPARE(session.pic->HorizontalScale(), 0.5);
    const QImage fitted = session.pic->viewport()->grab().toImage();
    QCOMPARE(fitted.pixel(319, 199), RgbOf(TestBlock(3), (638 + 7 * 398) % 256));
    QCOMPARE(fitted.pixel(319, 210), session.pic->palette().color(QPalette::Dark).rgb());

    // Ctrl+0 is the box's own look again.
    QTest::keyClick(&session.window, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(session.pic->Mode(), ZoomMode::Default);
    QCOMPARE(session.pic->viewport()->grab().toImage().pixel(5, 2),
             RgbOf(TestBlock(3), (5 + 14) % 256));
}

void TestViewer::startWithoutFolderAsksForOne()
{
    QSettings().remove("recentFolders");
    GameFixture broken;
    fs::remove(broken / "PALETTE.PAL");
    RecordingPrompts prompts;
    prompts.folderAnswers = {QString::fromStdString(broken.root().string())};
    // The test program's folder is no game folder; the chosen one fails, and the
    // user is asked again, then cancels.
    QCOMPARE(RunProgram({"varek"}, prompts), 1);
    QCOMPARE(prompts.folderTitles.size(), 2);
    QCOMPARE(prompts.messages.size(), std::size_t{1});
    QVERIFY(prompts.messages[0].text.startsWith("Could not find file: PALETTE.PAL"));
    QVERIFY(prompts.messages[0].text.contains("Folder searched: "));
}

void TestViewer::exportAnimationFromTheMenu()
{
    GameFixture game;
    game.WriteAnimation("A.FLI", WriteAnimation(NumberedFrames(3)));
    game.WriteAnimation("B.FLI", WriteAnimation(NumberedFrames(2)));
    const TempFolder out;
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    session.Press(2);
    session.ClickRow(1);
    const QString folder = QString::fromStdString(out.path().string());
    session.prompts.exportAnswers.push_back({folder, ImageFormat::Bmp});
    ActionNamed(session.window, "Export Animation...")->trigger();
    QCOMPARE(session.prompts.exportRequests.size(), std::size_t{1});
    // Only the animation on show, as varek-export names its pictures.
    QVERIFY(fs::exists(out / "FLI" / "B-01.bmp") && fs::exists(out / "FLI" / "B-02.bmp"));
    QVERIFY(!fs::exists(out / "FLI" / "A-01.bmp"));
    QCOMPARE(session.window.statusBar()->currentMessage(),
             "Exported 2 images to " + QDir::toNativeSeparators(folder));
}

// Loads that may take long run off the GUI thread under a progress dialog with
// Cancel, chosen by the work the file's outline asks for, not by its size alone;
// small ones load at once. The probe sees the dialog only while the window serves
// events during a load, which a load on the GUI thread never does.
void TestViewer::costlyAnimationsLoadOnAThreadOfTheirOwn()
{
    GameFixture game;
    game.WriteAnimation("A-SMALL.FLI", WriteFLIFile(EncodeAnimation(NumberedFrames(3))));
    // 3,000 pictures in 66 KB.
    game.WriteAnimation("B-BLACK.FLI",
                        WriteFLIFile(std::vector<FliFrameData>(3000, {{{FLI_BLACK, {}}}})));
    std::vector<FliFrameData> frames = EncodeAnimation(NumberedFrames(3));
    // A frame of 16 MiB that adds no picture makes the file large.
    frames.push_back({{{99, ByteArray(std::size_t{16} << 20, 0)}}});
    game.WriteAnimation("C-LARGE.FLI", WriteFLIFile(frames));
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    bool seen = false;
    bool cancel = false;
    QTimer probe;
    connect(&probe, &QTimer::timeout, &probe, [&] {
        if (auto* dialog = session.window.findChild<QProgressDialog*>()) {
            seen = true;
            if (cancel) {
                emit dialog->canceled();  // what its Cancel button sends
            }
        }
    });
    probe.start(0);

    session.Press(2);
    QVERIFY(!seen);
    QCOMPARE(session.hsb->maximum(), 3);

    cancel = true;
    session.ClickRow(1);
    QVERIFY(seen);
    QVERIFY(session.window.statusBar()->currentMessage().startsWith(
        "Loading B-BLACK.FLI was cancelled after "));
    QVERIFY(session.window.Frames().FrameCount() < 3000);

    seen = cancel = false;
    session.ClickRow(2);
    QVERIFY(seen);
    probe.stop();
    QVERIFY(session.prompts.messages.empty());
    QCOMPARE(session.hsb->maximum(), 3);
    QCOMPARE(session.window.Frames().FrameCount(), std::size_t{3});
    QTest::keyClick(session.hsb, Qt::Key_End);
    QCOMPARE(session.pic->viewport()->grab().toImage().pixel(0, 0), RgbOf(TestBlock(3), 13));
    QVERIFY(session.window.findChild<QLabel*>("frameInfo")
                ->text()
                .startsWith("picture 3 of 3 \u00b7 file frame 3 of 4"));
}

int RunViewerTests(int argc, char** argv)
{
    TestViewer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Viewer.moc"
