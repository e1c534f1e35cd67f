#pragma once

#include <QString>
#include <functional>

namespace platform {

// The desktop shell's "open this folder" (the file manager), behind a seam for tests.
class Shell {
public:
    // Called with what to tell the user when the folder could not be opened; it may come a
    // moment after openFolder returned, once the file manager's launcher has answered.
    using Failed = std::function<void(const QString& message)>;

    virtual ~Shell() = default;
    virtual void openFolder(const QString& folder, Failed failed) = 0;
};

// Opens the folder with xdg-open, or with QDesktopServices where there is none. A launcher
// that cannot start, or that answers within a few seconds that it could not open the folder
// (no file manager set up, no such folder), is told through failed.
class DesktopShell : public Shell {
public:
    void openFolder(const QString& folder, Failed failed) override;
};

// The message for a folder that could not be opened, from the launcher's exit status
// (xdg-open's: 2 no such file, 3 no program set up for it, 4 the action failed); -1 when no
// launcher could be started.
QString folderNotOpenedText(const QString& folder, int launcherExit);

}  // namespace platform
