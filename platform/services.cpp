#include "platform/services.h"

#include <QCoreApplication>

namespace platform {

QString applicationFolder() { return QCoreApplication::applicationDirPath(); }

void endProgram(Services& services) {
    services.ending = true;
    if (services.endProgram) {
        services.endProgram();
    }
}

QString besideProgram(const QString& programFolder, const QString& relativeName) {
    if (programFolder.endsWith(QChar('/'))) {
        return programFolder + relativeName;
    }
    return programFolder + QChar('/') + relativeName;
}

}  // namespace platform
