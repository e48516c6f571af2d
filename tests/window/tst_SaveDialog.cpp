#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTest>
#include <functional>

#include "dialogs/SaveDialog.h"
#include "support/TempFolder.h"
#include "window/UserPrompts.h"

using namespace varek;

namespace {

// Runs answer on the first modal widget of type T to open, from inside its own
// event loop; gives up, closing whatever is modal, after about five seconds.
template <class T>
void Answer(std::function<void(T*)> answer)
{
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, answer] {
        if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            timer->stop();
            answer(widget);
        } else if (++*tries > 500) {
            timer->deleteLater();
            timer->stop();
            if (QWidget* modal = QApplication::activeModalWidget()) {
                modal->close();
            }
        }
    });
    timer->start(10);
}

QLineEdit* NameField(QFileDialog* dialog)
{
    return dialog->findChild<QLineEdit*>("fileNameEdit");
}

SaveDialogRequest Request(const QString& folder, const QString& name)
{
    return {{"Bitmap Files (*.bmp)", "All Files (*)"}, "Save image as...", folder, "bmp", name, 0};
}

QString PathOf(const test::TempFolder& folder)
{
    return QString::fromStdString(folder.path().string());
}

}  // namespace

class TestSaveDialog : public QObject {
    Q_OBJECT

private slots:
    void opensAsAskedWithTheNameCutAndCancels();
    void asksBeforeCreatingAndAddsExtension();
    void asksBeforeReplacing();
    void longNamesAreCut();
    void messageBoxes();
};

// The dialog shows the request, the proposed name cut to what a file system takes.
void TestSaveDialog::opensAsAskedWithTheNameCutAndCancels()
{
    test::TempFolder folder;
    QString title, name, directory, suffix, filter;
    QStringList filters;
    bool confirmsOverwrite = false;
    bool saves = false;
    Answer<QFileDialog>([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        filter = dialog->selectedNameFilter();
        directory = dialog->directory().absolutePath();
        suffix = dialog->defaultSuffix();
        name = NameField(dialog)->text();
        confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        saves = dialog->acceptMode() == QFileDialog::AcceptSave;
        dialog->reject();
    });
    const QString longName = QString(300, u'A') + ".bmp";
    QCOMPARE(ShowSaveDialog(nullptr, Request(PathOf(folder), longName)), QString());
    QCOMPARE(title, "Save image as...");
    QCOMPARE(filters, (QStringList{"Bitmap Files (*.bmp)", "All Files (*)"}));
    QCOMPARE(filter, "Bitmap Files (*.bmp)");
    QCOMPARE(directory, PathOf(folder));
    QCOMPARE(suffix, "bmp");
    QCOMPARE(name, FitProposedName(longName));
    QCOMPARE(name.size(), kMaxProposedNameLength);
    QVERIFY(confirmsOverwrite);
    QVERIFY(saves);
    QVERIFY(std::filesystem::is_empty(folder.path()));
}

void TestSaveDialog::asksBeforeCreatingAndAddsExtension()
{
    test::TempFolder folder;
    QStringList questions;
    bool stayedOpen = false;
    Answer<QFileDialog>([&](QFileDialog* dialog) {
        NameField(dialog)->setText("shot");
        Answer<QMessageBox>([&](QMessageBox* box) {
            questions << box->text();
            box->button(QMessageBox::No)->click();
        });
        static_cast<QDialog*>(dialog)->accept();
        stayedOpen = dialog->isVisible();
        Answer<QMessageBox>([&](QMessageBox* box) {
            questions << box->text();
            box->button(QMessageBox::Yes)->click();
        });
        static_cast<QDialog*>(dialog)->accept();
    });
    const QString chosen = ShowSaveDialog(nullptr, Request(PathOf(folder), "WALL01.bmp"));
    QCOMPARE(chosen, PathOf(folder) + "/shot.bmp");
    QVERIFY(stayedOpen);
    QCOMPARE(questions.size(), 2);
    QVERIFY(questions[0].contains("shot.bmp does not exist"));
}

void TestSaveDialog::asksBeforeReplacing()
{
    test::TempFolder folder;
    folder.Write("old.bmp", {1, 2, 3});
    QString question;
    Answer<QFileDialog>([&](QFileDialog* dialog) {
        Answer<QMessageBox>([&](QMessageBox* box) {
            question = box->text();
            box->button(QMessageBox::Yes)->click();
        });
        static_cast<QDialog*>(dialog)->accept();
    });
    QCOMPARE(ShowSaveDialog(nullptr, Request(PathOf(folder), "old.bmp")),
             PathOf(folder) + "/old.bmp");
    QVERIFY(question.contains("already exists"));
    QVERIFY(test::ReadAll(folder / "old.bmp") == (ByteArray{1, 2, 3}));
}

void TestSaveDialog::longNamesAreCut()
{
    QCOMPARE(FitProposedName(QString(300, u'A') + ".bmp"), QString(250, u'A') + ".bmp");
    QCOMPARE(FitProposedName("INTRO-09.bmp"), "INTRO-09.bmp");
    QCOMPARE(FitProposedName(QString(300, u'B')), QString(254, u'B'));
    // A character outside the first plane is two UTF-16 units and is never split.
    const QString wide = QString(249, u'C') + QString::fromUcs4(U"\U0001F600") + "x.bmp";
    QCOMPARE(FitProposedName(wide), QString(249, u'C') + ".bmp");
    QCOMPARE(FitProposedName("a." + QString(300, u'e')), "a." + QString(252, u'e'));
}

void TestSaveDialog::messageBoxes()
{
    DialogPrompts prompts;
    const std::pair<MessageIcon, QMessageBox::Icon> icons[] = {
        {MessageIcon::None, QMessageBox::NoIcon},
        {MessageIcon::Warning, QMessageBox::Warning},
        {MessageIcon::Critical, QMessageBox::Critical}};
    for (const auto& [icon, boxIcon] : icons) {
        QString title, text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::Icon shownIcon = QMessageBox::Question;
        Answer<QMessageBox>([&](QMessageBox* box) {
            title = box->windowTitle();
            text = box->text();
            buttons = box->standardButtons();
            shownIcon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        prompts.ShowMessage(nullptr, "AddBMPHeader", icon);
        QCOMPARE(title, "Varek");
        QCOMPARE(text, "AddBMPHeader");
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(shownIcon, boxIcon);
    }
}

int RunSaveDialogTests(int argc, char** argv)
{
    TestSaveDialog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_SaveDialog.moc"
