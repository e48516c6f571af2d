#include <QApplication>

#include "window/MainWindow.h"
#include "window/Program.h"
#include "window/UserPrompts.h"

int main(int argc, char* argv[])
{
    // --help and --version need no screen, so they are answered before the GUI starts.
    {
        const QCoreApplication console(argc, argv);
        if (const auto answered = varek::AnswerWithoutWindow(QCoreApplication::arguments())) {
            return *answered;
        }
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("varek"));
    QApplication::setOrganizationName(QStringLiteral("varek"));
    // Ties the window to its desktop entry and icon once installed.
    QGuiApplication::setDesktopFileName(QStringLiteral(VAREK_APP_ID));
    QApplication::setWindowIcon(varek::ProgramIcon());
    varek::DialogPrompts prompts;
    return varek::RunProgram(QApplication::arguments(), prompts);
}
