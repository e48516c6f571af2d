// What the window offers around its client area: menus and shortcuts, other
// folders, copying, zoom, playback, the status bar and the start without a folder.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressDialog>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <optional>

#include "GameFixture.h"
#include "WindowDriver.h"
#include "authoring/CelWriter.h"
#include "support/TempFolder.h"
#include "window/PathText.h"
#include "window/Program.h"

namespace fs = std::filesystem;
using namespace varek;
using namespace varek::test;

namespace {

}  // namespace

class TestViewer : public QObject {
    Q_OBJECT

private slots:
    void frameBarStepsByKeyboardAndPlayback();
    void actionsFollowTheCategory();
    void otherFoldersByMenuAndDrop();
    void oneFileByArgumentMenuAndDrop();
    void copyZoomAndScrollBars();
    void zoomAndAspect_data();
    void zoomAndAspect();
    void statusBarAtTheDefaultSize();
    void remembersTheViewBetweenRuns();
    void startWithoutFolderAsksForOne();
    void exportAnimationFromTheMenu();
    void costlyAnimationsLoadOnAThreadOfTheirOwn();
};

// The frame bar takes the keys a scroll bar knows once Tab or a click focuses it,
// a page being a tenth of the frames; the picture box and the bar show when they
// have the focus. Playback steps the bar at the file's speed and loops, and a step
// by hand stops it. Space plays, except on a button, which it presses; Tab
// reaches the play button too.
void TestViewer::frameBarStepsByKeyboardAndPlayback()
{
    GameFixture game;
    game.WriteAnimation("A.FLI", WriteAnimation(NumberedFrames(30), 1));
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    session.Press(2);
    QCOMPARE(session.hsb->value(), 1);

    // Tab from the list to the picture box, which shows the focus as the bar does.
    const QImage boxUnfocused = session.pic->viewport()->grab().toImage();
    const QImage barUnfocused = session.hsb->grab().toImage();
    session.list->setFocus();
    QTest::keyClick(session.list, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), session.pic);
    QVERIFY(session.pic->viewport()->grab().toImage() != boxUnfocused);

    // Tab from the check box before it, then the keys a scroll bar knows.
    session.rotate->setEnabled(true);
    session.rotate->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), session.hsb);
    QVERIFY(session.hsb->grab().toImage() != barUnfocused);
    QTest::keyClick(session.hsb, Qt::Key_Right);
    QCOMPARE(session.hsb->value(), 2);
    QTest::keyClick(session.hsb, Qt::Key_End);
    QCOMPARE(session.hsb->value(), 30);
    QTest::keyClick(session.hsb, Qt::Key_PageUp);
    QCOMPARE(session.hsb->value(), 27);
    QTest::keyClick(session.hsb, Qt::Key_Home);
    QCOMPARE(session.hsb->value(), 1);

    // A click focuses it too, and the list keeps its own keys.
    session.list->setFocus();
    QTest::mouseClick(session.hsb, Qt::LeftButton, {},
                      QPoint(session.hsb->width() - 4, session.hsb->height() / 2));
    QCOMPARE(QApplication::focusWidget(), session.hsb);
    QCOMPARE(session.hsb->value(), 2);
    QTest::keyClick(session.hsb, Qt::Key_PageDown);
    QCOMPARE(session.hsb->value(), 5);
    QTest::keyClick(session.hsb, Qt::Key_Left);
    QCOMPARE(session.hsb->value(), 4);

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
    QCOMPARE(session.hsb->value(), 30);
    QTest::qWait(50);
    QCOMPARE(session.hsb->value(), 30);

    // Space on a focused button presses that button.
    session.save->setFocus();
    QTest::keyClick(session.save, Qt::Key_Space);
    QCOMPARE(session.prompts.requests.size(), std::size_t{1});
    QCOMPARE(button->text(), "Play");
    QTest::keyClick(session.save, Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), button);
    QTest::keyClick(button, Qt::Key_Space);
    QCOMPARE(button->text(), "Pause");
    QTest::keyClick(button, Qt::Key_Right, Qt::ControlModifier);  // Next Picture stops it
    QCOMPARE(button->text(), "Play");
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
        // The menu saves what is on show; the button always answers.
        QVERIFY(session.save->isEnabled());
        QCOMPARE(save->isEnabled(), c.copy);
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

    // A folder that fails a check: what is missing and what a game folder holds;
    // the chooser opens again where the user was, and the folder on show stays.
    const QString brokenText = QString::fromStdString(broken.root().string());
    session.prompts.folderAnswers = {brokenText};
    QTest::keyClick(&session.window, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(session.prompts.folderTitles.size(), 2);
    QCOMPARE(session.prompts.folderTitles[0], "Choose the Vorlund game folder");
    QCOMPARE(session.prompts.folderStarts,
             (QStringList{QString::fromStdString(first.root().string()), brokenText}));
    QCOMPARE(session.prompts.messages.size(), std::size_t{1});
    QVERIFY(session.prompts.messages[0].text.startsWith(
        "Could not find path: FLI\r\n\r\nA Vorlund game folder holds"));
    QVERIFY(session.prompts.messages[0].text.endsWith(QDir::toNativeSeparators(brokenText)));
    QCOMPARE(session.window.GameFolderPath(), first.root());
    QCOMPARE(session.list->item(0)->text(), "FIRST.CEL");

    // Open Recent offers no folder that is gone, and one gone since says so.
    std::optional<GameFixture> gone(std::in_place);
    const QString goneText = QString::fromStdString(gone->root().string());
    QSettings().setValue("recentFolders", QStringList{goneText, brokenText});
    auto* recent = session.window.findChild<QMenu*>();
    for (QMenu* menu : session.window.findChildren<QMenu*>()) {
        recent = menu->title() == "Open &Recent" ? menu : recent;
    }
    emit recent->aboutToShow();
    QCOMPARE(recent->actions().size(), 2);
    gone.reset();
    emit recent->aboutToShow();
    QCOMPARE(recent->actions().size(), 1);
    QCOMPARE(RecentFolders(), QStringList{brokenText});
    QSettings().setValue("recentFolders", QStringList{goneText});
    QVERIFY(!session.window.OpenFolder(ToPath(goneText)));
    QCOMPARE(session.prompts.messages.back().text,
             "The folder " + goneText + " is gone: it was moved, renamed or deleted.");
    QVERIFY(RecentFolders().isEmpty());

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

// A file opened on its own, by argument, menu or drop: the list holds its folder's
// files of its kind with it chosen, the categories that need a game folder are
// disabled, and showing, playing, copying, zooming, saving and exporting work.
// A wall alone is refused with the advice to open its game folder.
void TestViewer::oneFileByArgumentMenuAndDrop()
{
    TempFolder loose;
    loose.Write("A.FLI", WriteAnimation(NumberedFrames(3)));
    loose.Write("b.fli", WriteAnimation(NumberedFrames(2)));
    loose.Write("PIC.CEL", EncodeCelImage(Gradient(5, 4), TestBlock(2)));
    loose.Write("WALL.CEL", MarkedWall());
    const auto pathOf = [&](const char* name) {
        return QString::fromStdString((loose / name).string());
    };

    // By argument, through the program's start.
    RecordingPrompts prompts;
    QStringList listed;
    QList<bool> usable;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == "frm" && widget->isVisible()) {
                auto* list = widget->findChild<QListWidget*>("File");
                for (int row = 0; row < list->count(); ++row) {
                    listed << list->item(row)->text();
                }
                listed << list->currentItem()->text();
                for (QAbstractButton* button : widget->findChild<QButtonGroup*>("opt")->buttons()) {
                    usable << (button->isEnabled() && button->isChecked());
                }
            }
        }
        QApplication::exit(0);
    });
    QCOMPARE(RunProgram({"varek", pathOf("b.fli")}, prompts), 0);
    QCOMPARE(listed, (QStringList{"A.FLI", "b.fli", "b.fli"}));
    QCOMPARE(usable, (QList<bool>{false, false, true}));
    QVERIFY(prompts.messages.empty());

    // By the menu, from a game folder.
    GameFixture game;
    game.WriteWall("W.CEL", MarkedWall());
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    session.prompts.fileAnswers = {pathOf("WALL.CEL"), pathOf("PIC.CEL")};
    QTest::keyClick(&session.window, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(session.prompts.messages.size(), std::size_t{1});
    QVERIFY2(session.prompts.messages[0].text.contains("open its game folder"),
             qPrintable(session.prompts.messages[0].text));
    QCOMPARE(session.window.GameFolderPath(), game.root());
    QTest::keyClick(&session.window, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(session.window.GameFolderPath(), loose.path());
    QCOMPARE(session.list->count(), 2);
    QCOMPARE(session.list->currentItem()->text(), "PIC.CEL");
    QCOMPARE(session.opt->checkedId(), 1);
    QVERIFY(!session.opt->button(0)->isEnabled() && !session.opt->button(2)->isEnabled());
    QVERIFY(session.pic->HasPicture());
    QTest::keyClick(&session.window, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->image().size(), QSize(5, 4));
    const TempFolder out;
    const QString saved = QString::fromStdString((out / "pic.bmp").string());
    session.prompts.answers = {saved};
    QTest::keyClick(&session.window, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(session.prompts.requests.back().initialFolder,
             QString::fromStdString(loose.path().string()));
    QVERIFY(fs::file_size(ToPath(saved)) > 0);
    session.prompts.exportAnswers.push_back(
        {QString::fromStdString(out.path().string()), ImageFormat::Bmp});
    ActionNamed(session.window, "Export Category...")->trigger();
    QCOMPARE(ReadAll(out / "STILLCEL" / "PIC.bmp"), ReadAll(ToPath(saved)));
    // Listed by name, the wall is a failure of the export, as in a game folder.
    QVERIFY(session.prompts.messages.back().text.contains("1 failure:\nSTILLCEL/WALL.CEL"));

    // By a drop: an animation, which plays and zooms.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(pathOf("A.FLI"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&session.window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&session.window, &drop);
    QCOMPARE(session.list->currentItem()->text(), "A.FLI");
    QCOMPARE(session.opt->checkedId(), 2);
    QVERIFY(!session.opt->button(1)->isEnabled());
    QCOMPARE(session.hsb->maximum(), 3);
    QTest::keyClick(&session.window, Qt::Key_Plus, Qt::ControlModifier);
    QCOMPARE(session.pic->HorizontalScale(), 2.0);
    QTest::keyClick(&session.window, Qt::Key_Space);
    QTRY_VERIFY(session.hsb->value() > 1);
    QTest::keyClick(&session.window, Qt::Key_Space);

    // A game folder again: every category.
    QVERIFY(session.window.OpenFolder(game.root()));
    QVERIFY(session.opt->button(0)->isEnabled() && session.opt->button(1)->isEnabled());
    QCOMPARE(session.prompts.messages.size(), std::size_t{2});
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

    // At the default look a picture larger than the box is fitted, with no scroll
    // bars; at 1x it scrolls.
    QCOMPARE(session.pic->Mode(), ZoomMode::Default);
    QCOMPARE(session.pic->HorizontalScale(), 0.5);
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

    // Ctrl and the wheel zoom a step a notch; the wheel alone scrolls.
    const auto turn = [&](int degrees, Qt::KeyboardModifiers modifiers) {
        const QPointF at(10, 10);
        QWheelEvent wheel(at, session.pic->viewport()->mapToGlobal(at), {}, {0, degrees * 8},
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(session.pic->viewport(), &wheel);
    };
    turn(15, Qt::ControlModifier);
    QCOMPARE(session.pic->HorizontalScale(), 3.0);
    turn(-30, Qt::ControlModifier);
    QCOMPARE(session.pic->HorizontalScale(), 1.0);
    turn(15, Qt::ControlModifier);
    turn(-15, Qt::NoModifier);
    QCOMPARE(session.pic->HorizontalScale(), 2.0);

    // Fit shows it whole: the last pixel lands inside the box.
    ActionNamed(session.window, "Fit")->trigger();
    QTRY_VERIFY(!session.pic->horizontalScrollBar()->isVisible());
    QCOMPARE(session.pic->HorizontalScale(), 0.5);
    const QImage fitted = session.pic->viewport()->grab().toImage();
    QCOMPARE(fitted.pixel(319, 199), RgbOf(TestBlock(3), (638 + 7 * 398) % 256));
    QCOMPARE(fitted.pixel(319, 210), session.pic->palette().color(QPalette::Dark).rgb());

    // Ctrl+0 is the box's own look again, fitted for this picture.
    QTest::keyClick(&session.window, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(session.pic->Mode(), ZoomMode::Default);
    QCOMPARE(session.pic->viewport()->grab().toImage().pixel(5, 2),
             RgbOf(TestBlock(3), (10 + 28) % 256));
}

void TestViewer::zoomAndAspect_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QString>("zoom");  // the View menu's entry
    QTest::addColumn<bool>("aspect");
    QTest::addColumn<QSize>("grow");  // the window made larger by
    QTest::addColumn<QSize>("painted");
    QTest::addColumn<QString>("status");
    const QSize none(0, 0);
    QTest::newRow("fit, whole factor")
        << QSize(64, 64) << "Fit" << false << none << QSize(256, 256) << "Fit 4\u00d7";
    QTest::newRow("fit follows a resize")
        << QSize(64, 64) << "Fit" << false << QSize(200, 100) << QSize(320, 320) << "Fit 5\u00d7";
    QTest::newRow("fit, half") << QSize(640, 400) << "Fit" << false << none << QSize(320, 200)
                               << "Fit 1/2\u00d7";
    QTest::newRow("fit, a quarter")
        << QSize(1000, 100) << "Fit" << false << none << QSize(250, 25) << "Fit 1/4\u00d7";
    QTest::newRow("larger than the box, default look")
        << QSize(640, 400) << "Default Size" << false << none << QSize(320, 200) << "Fit 1/2\u00d7";
    QTest::newRow("screen, default look")
        << QSize(320, 200) << "Default Size" << false << none << QSize(320, 200) << "1\u00d7";
    QTest::newRow("screen, default look, aspect")
        << QSize(320, 200) << "Default Size" << true << none << QSize(320, 240)
        << "1\u00d7 \u00b7 6:5";
    QTest::newRow("screen, fit, aspect") << QSize(320, 200) << "Fit" << true << QSize(400, 300)
                                         << QSize(640, 480) << "Fit 2\u00d7 \u00b7 6:5";
    QTest::newRow("wall, aspect does not apply")
        << QSize(64, 64) << "Default Size" << true << none << QSize(256, 256) << "4\u00d7";
}

// Every zoom paints whole pixels; the status bar says the scale and whether the
// aspect is corrected, and follows a resize; the correction is offered only for
// 320 x 200 pictures.
void TestViewer::zoomAndAspect()
{
    QFETCH(QSize, picture);
    QFETCH(QString, zoom);
    QFETCH(bool, aspect);
    QFETCH(QSize, grow);
    QFETCH(QSize, painted);
    QFETCH(QString, status);
    GameFixture game;
    game.WriteStill("S.CEL", Gradient(picture.width(), picture.height()), TestBlock(3));
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    session.Press(1);
    QAction* correct = ActionNamed(session.window, "Correct Aspect (6:5)");
    QCOMPARE(correct->isEnabled(), picture == QSize(320, 200));
    if (aspect && correct->isEnabled()) {
        correct->trigger();
    }
    ActionNamed(session.window, zoom)->trigger();
    session.window.resize(session.window.size() + grow);
    auto* zoomInfo = session.window.findChild<QLabel*>("zoomInfo");
    QTRY_COMPARE(zoomInfo->text(), status);

    // The last picture pixel painted ends exactly at the scaled size.
    const QImage shown = session.pic->viewport()->grab().toImage();
    const QRgb background = session.pic->palette().color(QPalette::Dark).rgb();
    const QPoint last(painted.width() - 1, painted.height() - 1);
    QVERIFY(shown.pixel(last) != background);
    QVERIFY(shown.pixel(last + QPoint(1, 0)) == background || last.x() + 1 == shown.width());
    QVERIFY(shown.pixel(last + QPoint(0, 1)) == background || last.y() + 1 == shown.height());
    if (picture == QSize(64, 64) && !aspect) {
        // Columns of one width: picture column 1 starts at the factor.
        const int factor = painted.width() / 64;
        QCOMPARE(shown.pixel(factor - 1, 0), shown.pixel(0, 0));
        QVERIFY(shown.pixel(factor, 0) != shown.pixel(0, 0));
    }
}

// The facts stay whole at the default size for the longest animation; a note
// hides them (and nothing else: playback has its own bar) and goes after its
// time; the facts come back.
void TestViewer::statusBarAtTheDefaultSize()
{
    GameFixture game;
    game.WriteAnimation("LONGNAME.FLI", WriteAnimation(NumberedFrames(999), 1));
    WindowDriver session;
    QVERIFY(session.Start(game.root()));
    QCOMPARE(session.window.NoteTimeout(), 5000);
    session.Press(2);
    QTest::keyClick(session.hsb, Qt::Key_End);
    ActionNamed(session.window, "Fit")->trigger();
    const QList<QLabel*> facts = {session.window.findChild<QLabel*>("pictureInfo"),
                                  session.window.findChild<QLabel*>("frameInfo"),
                                  session.window.findChild<QLabel*>("zoomInfo")};
    for (QLabel* label : facts) {
        QVERIFY2(label->isVisible(), qPrintable(label->objectName()));
        QTRY_VERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()),
                     qPrintable(label->text()));
    }

    ActionNamed(session.window, "Copy")->trigger();
    QStatusBar* bar = session.window.statusBar();
    QVERIFY(bar->currentMessage().startsWith("Copied LONGNAME.FLI"));
    QVERIFY(bar->width() - facts[2]->width() >
            bar->fontMetrics().horizontalAdvance(bar->currentMessage()));
    QVERIFY(!facts[1]->isVisible());
    QTest::keyClick(session.hsb, Qt::Key_Left);  // a new fact does not cover the note
    QVERIFY(!facts[1]->isVisible());
    const QWidget* play = session.window.findChild<QToolButton*>("cmdPlay");
    QVERIFY(play->isVisible());
    QVERIFY(!QRect(play->mapTo(&session.window, QPoint(0, 0)), play->size())
                 .intersects(bar->geometry()));
    // With a short time, the next note goes by itself.
    session.window.SetNoteTimeout(50);
    ActionNamed(session.window, "Copy")->trigger();
    QTRY_VERIFY(bar->currentMessage().isEmpty());
    QVERIFY(facts[1]->isVisible());
    QVERIFY(facts[1]->text().startsWith("picture 998/999"));

    // The pixel under the mouse takes the place of the picture's and frame's facts,
    // and fits as well.
    QTest::mouseMove(session.pic->viewport(), QPoint(10, 10));
    QTRY_VERIFY(facts[0]->text().contains("index"));
    for (QLabel* label : facts) {
        QTRY_VERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()),
                     qPrintable(label->text()));
    }
    QTest::mouseMove(session.window.statusBar(), QPoint(5, 5));
    QTRY_VERIFY(facts[1]->text().startsWith("picture 998/999"));
}

// The place and size, zoom and aspect, and on the same folder the category and
// file, are those of the last window closed.
void TestViewer::remembersTheViewBetweenRuns()
{
    struct ClearSettings {
        ~ClearSettings() { QSettings().clear(); }
    } clearAfterwards;
    GameFixture game;
    game.WriteStill("A.CEL", Gradient(64, 40), TestBlock(3));
    game.WriteStill("B.CEL", Gradient(320, 200), TestBlock(4));
    GameFixture other;
    QSize size;
    {
        WindowDriver session;
        QVERIFY(session.Start(game.root()));
        session.Press(1);
        session.ClickRow(1);
        ActionNamed(session.window, "Correct Aspect (6:5)")->trigger();
        ActionNamed(session.window, "3\u00d7")->trigger();
        session.window.resize(session.window.size() + QSize(100, 50));
        QTRY_VERIFY(session.window.size() != size);
        size = session.window.size();
        session.window.close();
    }
    for (const GameFixture* folder : {&game, &other}) {
        WindowDriver session;
        const QSignalSpy loads(&session.window, &MainWindow::fileClickHandled);
        QVERIFY(session.Start(folder->root()));
        QCOMPARE(loads.count(), folder == &game ? 1 : 0);  // the remembered file alone
        QCOMPARE(session.window.size(), size);
        QCOMPARE(session.pic->Mode(), ZoomMode::Factor);
        QVERIFY(session.pic->AspectCorrection());
        QCOMPARE(session.opt->checkedId(), folder == &game ? 1 : 0);
        QCOMPARE(session.list->currentRow(), folder == &game ? 1 : -1);
    }
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
    QCOMPARE(prompts.folderStarts.value(1), QString::fromStdString(broken.root().string()));
    QCOMPARE(prompts.messages.size(), std::size_t{1});
    QVERIFY(prompts.messages[0].text.startsWith(
        "Could not find file: PALETTE.PAL\r\n\r\nA Vorlund game folder holds"));
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
    // More 2048 x 2048 pictures than 1 GiB holds, each giving colour 0 its own shade.
    const auto longCount = static_cast<int>(FrameStore::MaxRecords(2048, 2048)) + 10;
    std::vector<FliFrameData> longFrames(
        1, {{{FLI_BRUN, EncodeFlcByteRunChunk({2048, 2048, ByteArray(2048 * 2048, 0)})}}});
    for (int k = 1; k <= longCount; ++k) {
        longFrames.push_back({{{FLC_COLOR_256, ByteArray{1, 0, 0, 1, static_cast<std::uint8_t>(k),
                                                         static_cast<std::uint8_t>(k >> 8), 0}}}});
    }
    FlcHeader longHeader;
    longHeader.width = longHeader.height = 2048;
    game.WriteAnimation("D-LONG.FLC", WriteFLCFile(longHeader, longFrames));
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
                .startsWith("picture 3/3 \u00b7 frame 3/4"));

    session.ClickRow(3);
    QVERIFY(session.prompts.messages.empty());
    QCOMPARE(session.hsb->maximum(), longCount + 1);
    QTest::keyClick(session.hsb, Qt::Key_End);
    QCOMPARE(session.pic->viewport()->grab().toImage().pixel(0, 0),
             qRgb(longCount & 0xFF, longCount >> 8, 0));
    QTest::keyClick(session.hsb, Qt::Key_PageUp);
    const int back = session.hsb->value() - 1;
    QCOMPARE(session.pic->viewport()->grab().toImage().pixel(0, 0),
             qRgb(back & 0xFF, back >> 8, 0));
}

int RunViewerTests(int argc, char** argv)
{
    TestViewer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Viewer.moc"
