#include "window/UserPrompts.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>

namespace varek {

void TellUser(UserPrompts& prompts, QWidget* owner, const QString& text, MessageIcon icon)
{
    // One line a paragraph, the first after the program's name.
    QStringList lines = QString(text)
                            .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    std::fprintf(stderr, "varek: %s\n", qPrintable(lines.join(QStringLiteral("\n  "))));
    std::fflush(stderr);
    prompts.ShowMessage(owner, text, icon);
}

void DialogPrompts::ShowMessage(QWidget* owner, const QString& text, MessageIcon icon)
{
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    if (icon == MessageIcon::Warning) {
        boxIcon = QMessageBox::Warning;
    } else if (icon == MessageIcon::Critical) {
        boxIcon = QMessageBox::Critical;
    }
    QMessageBox box(boxIcon, QString::fromLatin1(kProgramName), text, QMessageBox::Ok, owner);
    box.exec();
}

QString DialogPrompts::AskSavePath(QWidget* owner, const SaveDialogRequest& request)
{
    return ShowSaveDialog(owner, request);
}

QString DialogPrompts::AskFolder(QWidget* owner, const QString& title, const QString& startFolder)
{
    const QString chosen = QFileDialog::getExistingDirectory(owner, title, startFolder);
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen);
}

QString DialogPrompts::AskFile(QWidget* owner, const QString& title, const QString& startFolder,
                               const QString& filter)
{
    const QString chosen = QFileDialog::getOpenFileName(owner, title, startFolder, filter);
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen);
}

std::optional<ExportChoice> DialogPrompts::AskExportTarget(QWidget* owner,
                                                           const ExportChoiceRequest& request)
{
    return ShowExportDialog(owner, request);
}

bool DialogPrompts::ConfirmReplacement(QWidget* owner, const ReplacementPreview& preview)
{
    return ShowReplacePreview(owner, preview);
}

}  // namespace varek
