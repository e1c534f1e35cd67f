#include "support/appfixture.h"

#include <QDir>

namespace testing_support {

FakeServices::FakeServices() {
    programFolder = home.filePath(QStringLiteral("program"));
    QDir().mkpath(programFolder);
    settings = std::make_unique<platform::SettingsStore>(home.filePath(QStringLiteral("Velmora.conf")));
    services.dialogs = &dialogs;
    services.settings = settings.get();
    services.shell = &shell;
    services.automation = &registry;
    services.clipboard = &clipboard;
    services.programFolder = programFolder;
    services.endProgram = [this] { ++endProgramCalls; };
}

void FakeServices::restartSettings() {
    settings = std::make_unique<platform::SettingsStore>(home.filePath(QStringLiteral("Velmora.conf")));
    services.settings = settings.get();
}

}  // namespace testing_support
