#pragma once

#include <QStringList>
#include <vector>

#include "window/UserPrompts.h"

namespace varek::test {

// Stands in for the user: keeps every message and save request and answers the
// save dialog with the next of answers (an empty text, or none left, cancels).
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

    std::vector<Message> messages;
    std::vector<SaveDialogRequest> requests;
    QStringList answers;
};

}  // namespace varek::test
