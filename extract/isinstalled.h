#pragma once

class QWidget;

namespace automation {
class Registry;
}
namespace platform {
class Dialogs;
}

namespace extract {

// Module IsInstalled: warns once when no "Excel.Application" object can be created.
void CheckExcelInstalled(automation::Registry& registry, platform::Dialogs& dialogs,
                         QWidget* owner);

}  // namespace extract
