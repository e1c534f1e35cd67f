#include "extract/excel1.h"

#include "automation/registry.h"
#include "platform/dialogs.h"

namespace extract {

bool IsExcelRunning(automation::Registry& registry) {
    try {
        auto running = registry.getObject(automation::kExcelProgId);
        return running && running->defaultProperty() == QStringLiteral("Microsoft Excel");
    } catch (...) {
        return false;
    }
}

bool ExcelRunningPrompt(automation::Registry& registry, platform::Dialogs& dialogs,
                        QWidget* owner) {
    if (!IsExcelRunning(registry)) {
        return false;
    }
    const QString message =
        QStringLiteral("Excel may be open. It is recommended that you close Excel first.\r"
                       "Use Ctrl+Alt+Del > Task Manager > EXCEL.EXE if necessary.\r\n\r\n"
                       "Would you like to proceed anyway?");
    return dialogs.msgBox(owner, message, platform::vbYesNo) != platform::vbYes;
}

}  // namespace extract
