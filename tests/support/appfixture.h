#pragma once

#include <QTemporaryDir>
#include <memory>

#include "automation/pictureclipboard.h"
#include "automation/registry.h"
#include "platform/scripteddialogs.h"
#include "platform/services.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"

namespace testing_support {

// Records the folders the program asked the shell to open; with failure set, the shell says
// it could not open them.
class RecordingShell : public platform::Shell {
public:
    void openFolder(const QString& folder, Failed failed) override {
        opened << folder;
        if (!failure.isEmpty()) {
            failed(failure);
        }
    }
    QStringList opened;
    QString failure;
};

// Services wired with fakes: scripted dialogs, a settings file in a temporary folder, a
// recording shell, an empty automation registry, and a program folder of its own.
struct FakeServices {
    FakeServices();

    QTemporaryDir home;
    QString programFolder;  // an empty folder inside home, unless a test fills it
    platform::ScriptedDialogs dialogs;
    std::unique_ptr<platform::SettingsStore> settings;
    RecordingShell shell;
    automation::PictureClipboard clipboard;
    automation::Registry registry;
    platform::Services services;
    int endProgramCalls = 0;

    // A second program start: a new settings store over the same file.
    void restartSettings();
};

}  // namespace testing_support
