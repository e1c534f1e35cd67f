#include "platform/scripteddialogs.h"

namespace platform {

QVariant ScriptedDialogs::next() {
    if (whileShown) {
        whileShown(m_shown.back());
    }
    if (m_answers.empty()) {
        return {};
    }
    QVariant value = m_answers.front();
    m_answers.pop_front();
    return value;
}

QStringList ScriptedDialogs::messages() const {
    QStringList texts;
    for (const Shown& s : m_shown) {
        if (s.kind == Kind::MsgBox) {
            texts << s.prompt;
        }
    }
    return texts;
}

int ScriptedDialogs::msgBox(QWidget*, const QString& prompt, int style, const QString& title) {
    m_shown.push_back({Kind::MsgBox, prompt, style, title, {}, {}, {}});
    QVariant a = next();
    if (a.isValid()) {
        return a.toInt();
    }
    return (style & 7) == vbYesNo ? vbNo : vbOK;
}

QString ScriptedDialogs::inputBox(QWidget*, const QString& prompt, const QString& title,
                                  const QString& defaultAnswer) {
    m_shown.push_back({Kind::InputBox, prompt, 0, title, defaultAnswer, {}, {}});
    return next().toString();
}

QString ScriptedDialogs::showOpen(QWidget*, const FileOpenRequest& request) {
    m_shown.push_back({Kind::ShowOpen, request.title, 0, {}, {}, request, {}});
    return next().toString();
}

QString ScriptedDialogs::browseForFolder(QWidget*, const QString& prompt,
                                         const QString& startFolder) {
    m_shown.push_back({Kind::BrowseForFolder, prompt, 0, {}, {}, {}, startFolder});
    return next().toString();
}

}  // namespace platform
