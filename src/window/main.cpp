#include <QApplication>

#include "window/Program.h"
#include "window/UserPrompts.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    varek::DialogPrompts prompts;
    return varek::RunProgram(QApplication::arguments(), prompts);
}
