#pragma once

class QWidget;

namespace automation {
class Registry;
}
namespace platform {
class Dialogs;
}

namespace extract {

// Module Excel1. True when a running "Excel.Application" answers with the default property
// "Microsoft Excel"; every error counts as not running.
bool IsExcelRunning(automation::Registry& registry);

// Asks whether to go on when an instance is running. True means: do not start the run.
bool ExcelRunningPrompt(automation::Registry& registry, platform::Dialogs& dialogs,
                        QWidget* owner);

}  // namespace extract
