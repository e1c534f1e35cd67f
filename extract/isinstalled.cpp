#include "extract/isinstalled.h"

#include "automation/registry.h"
#include "platform/dialogs.h"

namespace extract {

void CheckExcelInstalled(automation::Registry& registry, platform::Dialogs& dialogs,
                         QWidget* owner) {
    bool created = false;
    try {
        // The object is released at once; only whether it could be made matters.
        created = registry.createObject(automation::kExcelProgId) != nullptr;
    } catch (...) {
        created = false;
    }
    if (!created) {
        dialogs.msgBox(owner,
                       QStringLiteral("Excel is not installed on this computer. You need to have "
                                      "it installed to use this software without error."),
                       platform::vbOKOnly);
    }
}

}  // namespace extract
