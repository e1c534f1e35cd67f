#pragma once

#include <QString>
#include <functional>

namespace automation {
class Registry;
class PictureClipboard;
}  // namespace automation

namespace platform {

class Dialogs;
class SettingsStore;
class Shell;

// The seams a window works through, wired once by main.cpp and by each test with its fakes.
struct Services {
    Dialogs* dialogs = nullptr;
    SettingsStore* settings = nullptr;
    Shell* shell = nullptr;
    automation::Registry* automation = nullptr;
    automation::PictureClipboard* clipboard = nullptr;
    // The folder of the executable, without a trailing "/" (the root keeps its own).
    QString programFolder;
    // Ends the program at once: every window goes, nothing is asked or saved.
    std::function<void()> endProgram;
    // Set once the program is ending, so a run in progress stops at its next turn.
    bool ending = false;
    // Long work shows its progress window once it has gone on this long by this clock
    // (milliseconds, steady; empty: the system's steady clock). Tests set their own, so that
    // none of them waits a real second.
    qint64 progressDelayMs = 1000;
    std::function<qint64()> clockMs;
};

// Closing either window: marks the program as ending, then ends it.
void endProgram(Services& services);

// The folder of the running executable.
QString applicationFolder();

// folder + "/" + name, the way the program names files beside itself.
QString besideProgram(const QString& programFolder, const QString& relativeName);

}  // namespace platform
