#pragma once

#include <QStringList>
#include <vector>

#include "window/UserPrompts.h"

namespace varek::test {

// Stands in for the user: keeps every message and save request and answers the
// save dialog with the next of answers and the folder chooser with the next of
// folderAnswers (an empty text, or none left, cancels).
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

    QString AskFolder(QWidget*, const QString& title, const QString&) override
    {
        folderTitles << title;
        return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
    }

    std::vector<Message> messages;
    std::vector<SaveDialogRequest> requests;
    QStringList answers;
    QStringList folderTitles;   // one for each time a folder was asked for
    QStringList folderAnswers;  // the folders chosen, in turn; none left cancels
};

}  // namespace varek::test
