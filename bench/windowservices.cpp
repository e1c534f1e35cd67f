#include "windowservices.h"

#include <QDir>

#include "automation/nativeexcel.h"

namespace bench {

WindowServices::WindowServices(const QString& folder)
    : settings(QDir(folder).filePath(QStringLiteral("Velmora.conf"))) {
    automation::registerNativeExcel(registry, clipboard);
    services.dialogs = &dialogs;
    services.settings = &settings;
    services.shell = &shell;
    services.automation = &registry;
    services.clipboard = &clipboard;
    services.programFolder = folder;
    services.endProgram = [] {};
}

}  // namespace bench
