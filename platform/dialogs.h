#pragma once

#include <QString>

class QWidget;

namespace platform {

// Message box styles and answers, numbered as the behaviour names them.
constexpr int vbOKOnly = 0;
constexpr int vbYesNo = 4;
constexpr int vbExclamation = 48;
constexpr int vbOK = 1;
constexpr int vbCancel = 2;
constexpr int vbYes = 6;
constexpr int vbNo = 7;

// Title of every box and prompt that names none of its own.
inline const QString kAppTitle = QStringLiteral("Quillfen");

// A window whose dynamic property of this name is true stays usable while a message box waits
// for its answer, and the box shows beside it, not over it: a progress window's Cancel still
// works while a report is up. Every other window of the program waits for the box.
inline constexpr char kLiveBesideBoxes[] = "quillfenLiveBesideBoxes";

// What the file-open dialog component is set to before it is shown.
struct FileOpenRequest {
    QString title;
    QString filter;  // "Description|pattern|" pairs, as the component takes them
    int flags = 0;
    // The component's text buffer; Qt's dialog has none to overflow and returns the whole
    // selection, however long.
    int maxFileSize = 30000;
};

// Every box, prompt and dialog the program shows goes through this seam, so windows can be
// driven in tests without a real modal dialog.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Returns vbOK, vbYes or vbNo. style: vbOKOnly or vbYesNo, plus vbExclamation for the icon.
    virtual int msgBox(QWidget* owner, const QString& prompt, int style, const QString& title) = 0;
    // The answer, or "" when the user cancels.
    virtual QString inputBox(QWidget* owner, const QString& prompt, const QString& title,
                             const QString& defaultAnswer) = 0;
    // The file-open component's text: one file gives its full path; several give the folder,
    // NUL, name, NUL, name...; cancel gives "".
    virtual QString showOpen(QWidget* owner, const FileOpenRequest& request) = 0;
    // The chosen folder without a trailing separator (the root keeps its "/"), or "". The
    // browse opens at startFolder when one is given.
    virtual QString browseForFolder(QWidget* owner, const QString& prompt,
                                    const QString& startFolder) = 0;

    int msgBox(QWidget* owner, const QString& prompt, int style = vbOKOnly) {
        return msgBox(owner, prompt, style, kAppTitle);
    }
    QString browseForFolder(QWidget* owner, const QString& prompt) {
        return browseForFolder(owner, prompt, QString());
    }
};

}  // namespace platform
