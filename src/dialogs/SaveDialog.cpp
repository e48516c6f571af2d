#include "dialogs/SaveDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace varek {

namespace {

// A save dialog that also asks before a file is created, as the game's tools did.
class ConfirmingSaveDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.size() == 1) {
            const QFileInfo info(files.front());
            if (!info.exists() && !info.fileName().isEmpty()) {
                const auto answer = QMessageBox::question(
                    this, windowTitle(),
                    tr("%1 does not exist.\nDo you want to create it?").arg(info.fileName()),
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
                if (answer != QMessageBox::Yes) {
                    return;
                }
            }
        }
        // Asks before replacing an existing file.
        QFileDialog::accept();
    }
};

}  // namespace

QString FitProposedName(const QString& name, int maxLength)
{
    if (name.size() <= maxLength) {
        return name;
    }
    const qsizetype dot = name.lastIndexOf(u'.');
    QString extension = dot > 0 ? name.mid(dot) : QString();
    if (extension.size() >= maxLength) {
        extension.clear();
    }
    qsizetype keep = maxLength - extension.size();
    if (keep > 0 && name.at(keep - 1).isHighSurrogate()) {
        --keep;
    }
    return name.left(keep) + extension;
}

QString ShowSaveDialog(QWidget* owner, const SaveDialogRequest& request)
{
    ConfirmingSaveDialog dialog(owner, request.title, request.initialFolder);
    // Qt's own dialog on every platform: the prompts above depend on it.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(request.filters);
    if (request.filterIndex >= 0 && request.filterIndex < request.filters.size()) {
        dialog.selectNameFilter(request.filters.at(request.filterIndex));
    }
    dialog.setDefaultSuffix(request.defaultExtension);
    dialog.setDirectory(request.initialFolder);
    dialog.selectFile(FitProposedName(request.fileName));
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : QDir::toNativeSeparators(files.front());
}

}  // namespace varek
