#pragma once

#include <QString>
#include <optional>

#include "dialogs/ExportDialog.h"
#include "dialogs/SaveDialog.h"
#include "window/ReplacePreview.h"

class QWidget;

namespace varek {

enum class MessageIcon { None, Warning, Critical };

// Every question the program puts to the user: message boxes, the save dialog,
// the export dialog and the preview of a replacement. The window asks only through this, so a test
// can give the user's answers.
class UserPrompts {
public:
    virtual ~UserPrompts() = default;

    // A modal message box titled with the program's name, with an OK button only.
    virtual void ShowMessage(QWidget* owner, const QString& text, MessageIcon icon) = 0;

    // The full path the user chose to save to, or an empty text after cancel.
    virtual QString AskSavePath(QWidget* owner, const SaveDialogRequest& request) = 0;

    // A folder the user chose, starting in startFolder, or an empty text after cancel.
    virtual QString AskFolder(QWidget* owner, const QString& title, const QString& startFolder) = 0;

    // A file the user chose to open, starting in startFolder and offering the
    // files filter names, or an empty text after cancel.
    virtual QString AskFile(QWidget* owner, const QString& title, const QString& startFolder,
                            const QString& filter) = 0;

    // The folder and image format the user chose to export to, or nothing after cancel.
    virtual std::optional<ExportChoice> AskExportTarget(QWidget* owner,
                                                        const ExportChoiceRequest& request) = 0;

    // Whether to replace a game file, after showing the preview: true for "Replace".
    virtual bool ConfirmReplacement(QWidget* owner, const ReplacementPreview& preview) = 0;
};

// The real boxes and dialogs.
class DialogPrompts final : public UserPrompts {
public:
    void ShowMessage(QWidget* owner, const QString& text, MessageIcon icon) override;
    QString AskSavePath(QWidget* owner, const SaveDialogRequest& request) override;
    QString AskFolder(QWidget* owner, const QString& title, const QString& startFolder) override;
    QString AskFile(QWidget* owner, const QString& title, const QString& startFolder,
                    const QString& filter) override;

    std::optional<ExportChoice> AskExportTarget(QWidget* owner,
                                                const ExportChoiceRequest& request) override;
    bool ConfirmReplacement(QWidget* owner, const ReplacementPreview& preview) override;
};

inline constexpr const char* kProgramName = "Varek";

// Shows text in a box and writes it to standard error too, so that a user who
// started the program from a terminal can read there why it stopped.
void TellUser(UserPrompts& prompts, QWidget* owner, const QString& text, MessageIcon icon);

}  // namespace varek
