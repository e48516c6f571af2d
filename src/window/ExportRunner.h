#pragma once

#include <QObject>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "art/GameFolder.h"
#include "export/Exporter.h"
#include "window/UserPrompts.h"

class QProgressDialog;
class QWidget;

namespace varek {

// What to export: every file of a category, or every picture of one animation.
struct ExportRequest {
    ArtCategory category = ArtCategory::WallsSprites;
    std::string animation;  // a file of the FLI folder: only its pictures; empty: the category
    bool rotate = true;     // walls and sprites turned a quarter turn, as "Rotate" shows them
};

struct ExportFailure {
    std::string name;  // the source, "FLI/INTRO.FLI", or the output folder
    std::string reason;

    bool operator==(const ExportFailure&) const = default;
};

// What one export did.
struct ExportReport {
    ExportChoice choice;
    ExportSummary summary;                // failures counts those below
    std::vector<ExportFailure> failures;  // in the order they came
    std::vector<ExportFailure> notes;     // what the user should know that is no failure
};

// Exports for the window with varek-export's engine: the same files, names and
// bytes, into the category's folder (CELS3, STILLCEL, FLI) inside the folder the
// user chooses.
class ExportRunner final : public QObject {
    Q_OBJECT

public:
    // owner parents the dialogs, which are window-modal to it.
    ExportRunner(UserPrompts& prompts, QWidget* owner);
    ~ExportRunner() override;

    // Asks the user for the folder and format, proposing the last ones chosen; runs
    // the export off the GUI thread (RunInBackground) under a modal progress dialog,
    // which appears once it has taken a moment and whose Cancel stops it, leaving
    // only whole files; then tells the user what was written and what failed. A
    // folder the export must not write into (the game folder or one of its category
    // folders), cannot make or cannot write in is refused with a message: one
    // failure, nothing written. Gives nothing, having done nothing, when the user
    // closes the export dialog, when there is no file to export or the category's
    // folder cannot be listed (said in a message), or while another export runs.
    std::optional<ExportReport> Run(const GameFolder& game, const ExportRequest& request);

signals:
    // A source file's export begins; the progress dialog names it already. The
    // export waits until every receiver has returned, so a Cancel pressed meanwhile
    // stops it before any image of that file is written.
    void fileStarted(const QString& name, int position, int total);

private:
    class Relay;

    // Runs the engine under the progress dialog; false when the folder was refused.
    bool ExportUnderProgress(const GameFolder& game, const ExportRequest& request,
                             ExportReport& report);
    void ShowProgress();
    void Tell(const ExportReport& report, const ExportRequest& request);

    UserPrompts& m_prompts;
    QWidget* m_owner;
    std::optional<ExportChoice> m_lastChoice;
    Relay* m_relay = nullptr;               // while an export runs
    QProgressDialog* m_progress = nullptr;  // while an export runs
};

}  // namespace varek
