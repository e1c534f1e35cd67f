#pragma once

#include "platform/dialogs.h"

namespace platform {

// The real dialogs: QMessageBox, QInputDialog and QFileDialog.
class QtDialogs : public Dialogs {
public:
    using Dialogs::msgBox;
    int msgBox(QWidget* owner, const QString& prompt, int style, const QString& title) override;
    QString inputBox(QWidget* owner, const QString& prompt, const QString& title,
                     const QString& defaultAnswer) override;
    QString showOpen(QWidget* owner, const FileOpenRequest& request) override;
    QString browseForFolder(QWidget* owner, const QString& prompt) override;
};

// A "Description|pattern|..." filter as the Qt file dialog wants it ("Description (pattern)").
QString qtFileFilter(const QString& componentFilter);

// The component's text for a list of chosen files: the full path for one, folder NUL names...
// for several (all in one folder, as the dialog returns them).
QString fileDialogText(const QStringList& chosen);

}  // namespace platform
