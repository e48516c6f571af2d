#include <QApplication>

#include "window/Program.h"
#include "window/UserPrompts.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("varek"));
    QApplication::setOrganizationName(QStringLiteral("varek"));
    QApplication::setApplicationVersion(QStringLiteral(VAREK_VERSION));
    varek::DialogPrompts prompts;
    return varek::RunProgram(QApplication::arguments(), prompts);
}
