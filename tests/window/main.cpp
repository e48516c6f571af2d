#include <QApplication>

int RunMainWindowTests(int argc, char** argv);
int RunSaveDialogTests(int argc, char** argv);
int RunSaveFaultTests(int argc, char** argv);

int main(int argc, char** argv)
{
    // The tests need no screen; a run by hand behaves as one under CTest.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    int failures = RunMainWindowTests(argc, argv);
    failures += RunSaveDialogTests(argc, argv);
    failures += RunSaveFaultTests(argc, argv);
    return failures == 0 ? 0 : 1;
}
