#include "platform/shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace platform {

void DesktopShell::openFolder(const QString& folder) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

}  // namespace platform
