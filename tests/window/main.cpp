#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <iterator>
#include <vector>

int RunMainWindowTests(int argc, char** argv);
int RunSaveDialogTests(int argc, char** argv);
int RunSaveFaultTests(int argc, char** argv);
int RunPlayerTests(int argc, char** argv);
int RunViewerTests(int argc, char** argv);
int RunExportRunnerTests(int argc, char** argv);
int RunToolTests(int argc, char** argv);
int RunReplaceTests(int argc, char** argv);

namespace {

struct TestClass {
    const char* name;
    int (*run)(int argc, char** argv);
};

constexpr TestClass kClasses[] = {
    {"MainWindow", RunMainWindowTests},
    {"SaveDialog", RunSaveDialogTests},
    {"SaveFaults", RunSaveFaultTests},
    {"Player", RunPlayerTests},
    {"Viewer", RunViewerTests},
    {"ExportRunner", RunExportRunnerTests},
    {"Tools", RunToolTests},
    {"Replace", RunReplaceTests},
};

}  // namespace

// varek_window_tests [CLASS] [Qt Test options]: runs the one test class named
// (MainWindow, SaveDialog, SaveFaults, Player, Viewer, ExportRunner, Tools or Replace), or all of
// them when the first argument names none.
int main(int argc, char** argv)
{
    // The tests need no screen; a run by hand behaves as one under CTest.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Settings the window keeps (recent folders) go to a folder of this run's own,
    // never to the user's, and test classes run side by side do not share them.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
    QApplication application(argc, argv);

    std::vector<char*> args(argv, argv + argc);
    const TestClass* only = nullptr;
    if (args.size() > 1) {
        for (const TestClass& testClass : kClasses) {
            if (std::strcmp(args[1], testClass.name) == 0) {
                only = &testClass;
                args.erase(args.begin() + 1);
            }
        }
    }
    const int count = static_cast<int>(args.size());
    int failures = 0;
    for (const TestClass& testClass : kClasses) {
        if (only == nullptr || only == &testClass) {
            failures += testClass.run(count, args.data());
        }
    }
    return failures == 0 ? 0 : 1;
}
