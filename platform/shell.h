#pragma once

#include <QString>

namespace platform {

// The desktop shell's "open this folder" (the file manager), behind a seam for tests.
class Shell {
public:
    virtual ~Shell() = default;
    virtual void openFolder(const QString& folder) = 0;
};

// Opens the folder with QDesktopServices; the result is ignored, as the caller ignores it.
class DesktopShell : public Shell {
public:
    void openFolder(const QString& folder) override;
};

}  // namespace platform
