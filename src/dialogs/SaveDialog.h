#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace varek {

// The longest name the save dialog proposes.
constexpr int kMaxProposedNameLength = 254;

// name cut to at most maxLength characters: its last extension is kept and the
// part before it shortened, never splitting a character made of two UTF-16 units.
QString FitProposedName(const QString& name, int maxLength = kMaxProposedNameLength);

// What the save dialog is opened with.
struct SaveDialogRequest {
    QStringList filters;       // Qt name filters, e.g. "Bitmap Files (*.bmp)"
    QString title;
    QString initialFolder;
    QString defaultExtension;  // without the dot
    QString fileName;          // proposed in the file-name field
    int filterIndex = 0;       // the filter chosen at first
};

// Shows the modal save dialog: opens in the initial folder with the proposed
// name (cut by FitProposedName) in its file-name field, appends the default
// extension to a name typed without one, and asks before replacing a file and
// before creating one. Gives the full path chosen, or an empty text on cancel.
QString ShowSaveDialog(QWidget* owner, const SaveDialogRequest& request);

}  // namespace varek
