#pragma once

#include <QString>

#include "automation/pictureclipboard.h"
#include "automation/registry.h"
#include "platform/scripteddialogs.h"
#include "platform/services.h"
#include "platform/settingsstore.h"
#include "platform/shell.h"

namespace bench {

// The real windows' services with nothing that waits for a person: scripted dialogs, a
// settings file and the program folder in the given folder, a shell that opens nothing, and
// the native workbook engine registered.
struct WindowServices {
    explicit WindowServices(const QString& folder);
    WindowServices(const WindowServices&) = delete;
    WindowServices& operator=(const WindowServices&) = delete;

    class NoShell : public platform::Shell {
    public:
        void openFolder(const QString&, Failed) override {}
    };

    platform::ScriptedDialogs dialogs;
    platform::SettingsStore settings;
    NoShell shell;
    automation::PictureClipboard clipboard;
    automation::Registry registry;
    platform::Services services;
};

}  // namespace bench
