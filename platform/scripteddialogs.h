#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <deque>
#include <functional>

#include "platform/dialogs.h"

namespace platform {

// Test double of Dialogs: records every box, prompt and dialog in order and answers from a
// queue. With the queue empty it answers as a user pressing Escape would: OK, No, "".
class ScriptedDialogs : public Dialogs {
public:
    enum class Kind { MsgBox, InputBox, ShowOpen, BrowseForFolder };

    struct Shown {
        Kind kind;
        QString prompt;  // message text, prompt, dialog title
        int style = 0;
        QString title;
        QString defaultAnswer;
        FileOpenRequest request;
        QString startFolder;
    };

    // Queue the next answer: an int for a message box, a text for the others.
    void answer(const QVariant& value) { m_answers.push_back(value); }
    // Runs while each box, prompt or dialog is up, before it is answered: what the user does
    // elsewhere meanwhile (presses Cancel on a progress window).
    std::function<void(const Shown&)> whileShown;

    const QList<Shown>& shown() const { return m_shown; }
    QStringList messages() const;  // the texts of the message boxes, in order
    void clear() { m_shown.clear(); }

    using Dialogs::browseForFolder;
    using Dialogs::msgBox;
    int msgBox(QWidget* owner, const QString& prompt, int style, const QString& title) override;
    QString inputBox(QWidget* owner, const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override;
    QString showOpen(QWidget* owner, const FileOpenRequest& request) override;
    QString browseForFolder(QWidget* owner, const QString& prompt,
                            const QString& startFolder) override;

private:
    QVariant next();

    QList<Shown> m_shown;
    std::deque<QVariant> m_answers;
};

}  // namespace platform
