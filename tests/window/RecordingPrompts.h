#pragma once

#include <QStringList>
#include <deque>
#include <vector>

#include "window/UserPrompts.h"

namespace varek::test {

// Stands in for the user: keeps every message and request and answers the save
// dialog with the next of answers, the folder chooser with the next of
// folderAnswers (an empty text, or none left, cancels), the export dialog with
// the next of exportAnswers and a replacement's preview with the next of
// replaceAnswers (none left cancels).
class RecordingPrompts final : public UserPrompts {
public:
    struct Message {
        QString text;
        MessageIcon icon;
    };

    void ShowMessage(QWidget*, const QString& text, MessageIcon icon) override
    {
        messages.push_back({text, icon});
    }
    QString AskSavePath(QWidget*, const SaveDialogRequest& request) override
    {
        requests.push_back(request);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    std::optional<ExportChoice> AskExportTarget(QWidget*,
                                                const ExportChoiceRequest& request) override
    {
        exportRequests.push_back(request);
        if (exportAnswers.empty()) {
            return std::nullopt;
        }
        const ExportChoice answer = exportAnswers.front();
        exportAnswers.pop_front();
        return answer;
    }

    QString AskFolder(QWidget*, const QString& title, const QString& startFolder) override
    {
        folderTitles << title;
        folderStarts << startFolder;
        return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
    }

    QString AskFile(QWidget*, const QString&, const QString&, const QString&) override
    {
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }

    bool ConfirmReplacement(QWidget*, const ReplacementPreview& preview) override
    {
        previews.push_back(preview);
        if (replaceAnswers.empty()) {
            return false;
        }
        const bool answer = replaceAnswers.front();
        replaceAnswers.pop_front();
        return answer;
    }

    std::vector<Message> messages;
    std::vector<SaveDialogRequest> requests;
    QStringList answers;
    QStringList folderTitles;   // one for each time a folder was asked for
    QStringList folderStarts;   // where the chooser opened each time
    QStringList folderAnswers;  // the folders chosen, in turn; none left cancels
    QStringList fileAnswers;    // the files chosen to open, in turn; none left cancels
    std::vector<ExportChoiceRequest> exportRequests;
    std::deque<ExportChoice> exportAnswers;
    std::vector<ReplacementPreview> previews;
    std::deque<bool> replaceAnswers;  // "Replace" or not, in turn; none left cancels
};

}  // namespace varek::test
