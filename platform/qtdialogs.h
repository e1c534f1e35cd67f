#pragma once

#include <Qt>

#include "platform/dialogs.h"

class QMessageBox;

namespace platform {

// Boxes and prompts keep a title bar with its close button only: they can be neither minimised
// nor maximised to any purpose.
inline constexpr Qt::WindowFlags kDialogWindowFlags =
    Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

// The real dialogs: QMessageBox, QInputDialog and QFileDialog.
class QtDialogs : public Dialogs {
public:
    using Dialogs::browseForFolder;
    using Dialogs::msgBox;
    int msgBox(QWidget* owner, const QString& prompt, int style, const QString& title) override;
    QString inputBox(QWidget* owner, const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override;
    QString showOpen(QWidget* owner, const FileOpenRequest& request) override;
    QString browseForFolder(QWidget* owner, const QString& prompt,
                            const QString& startFolder) override;
};

// Sets a message box up as msgBox shows it: text, icon, buttons, window flags, and a width
// that leaves the title readable in the window manager's title bar.
void prepareMessageBox(QMessageBox& box, const QString& prompt, int style, const QString& title);

// A "Description|pattern|..." filter as the Qt file dialog wants it ("Description (pattern)");
// a description that already ends with its patterns in parentheses is taken as it is.
QString qtFileFilter(const QString& componentFilter);

// The component's text for a list of chosen files: the full path for one, folder NUL names...
// for several (all in one folder, as the dialog returns them).
QString fileDialogText(const QStringList& chosen);

}  // namespace platform
