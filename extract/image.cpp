#include "extract/image.h"

#include <limits>

#include "automation/pictureclipboard.h"
#include "automation/registry.h"
#include "extract/resultstarget.h"
#include "platform/errorreport.h"
#include "platform/filepath.h"
#include "platform/picturespill.h"
#include "platform/runtimeerror.h"

namespace extract {
namespace {

using platform::RuntimeError;

// What a member call on an application object that was never made raises.
[[noreturn]] void noObject() {
    throw RuntimeError(91, QStringLiteral("Object variable or With block variable not set"));
}

}  // namespace

void ExtractImagesByFile(const QString& workbookPath, int& runningImageNumber,
                         const ExtractionContext& context) {
    platform::ErrorTrap trap(*context.dialogs, context.owner, QStringLiteral("Image"),
                             QStringLiteral("ExtractImagesByFile"));
    auto ending = [&] { return context.ending && context.ending(); };
    // A Cancel pressed while a report waits ends the work once that report is answered: the
    // statements that still run (the quit) tell nothing more.
    trap.setQuietWhen(ending);
    trap.setBeforeReport(context.beforeReport);
    auto yield = [&] {
        if (context.yield) {
            context.yield();
        }
    };

    std::unique_ptr<automation::ExcelApplication> excel;
    int counter = 0;
    int sheetCount = 0;
    int pictureCount = 0;

    trap.run(1, [&] { excel = context.registry->createObject(automation::kExcelProgId); });
    trap.run(2, [&] {
        if (!excel)
            noObject();
        excel->openWorkbook(workbookPath);
    });
    // A failed count leaves no loop to run: the workbook is done, and the instance still quits.
    trap.run(3, [&] {
        if (!excel)
            noObject();
        sheetCount = excel->worksheetCount();
    });
    for (int sheet = 1; sheet <= sheetCount && !ending(); ++sheet) {
        // A failed count leaves the previous sheet's count standing, as the value was not stored.
        trap.run(4, [&] { pictureCount = excel->pictureCount(sheet); });
        if (pictureCount == 0) {
            continue;
        }
        for (int picture = 1; picture <= pictureCount && !ending(); ++picture) {
            // The picture as the run's spill keeps it: what was the short-lived picture file, so
            // its save, its wait, its listing and its load keep their statements (the file's
            // name, line 10, is no more), and nothing is ever written beside the workbook.
            platform::Picture kept;
            trap.run(5, [&] { ++counter; });
            trap.run(6, [&] { excel->selectPicture(sheet, picture); });
            // Nothing of an earlier picture may be saved under this one's number.
            context.clipboard->clear();
            const bool copied = trap.run(7, [&] { excel->copyPicture(sheet, picture); });
            trap.run(8, [&] { yield(); });
            trap.run(9, [&] { yield(); });
            // A failed copy leaves nothing on the clipboard, so there is nothing to save and
            // nothing more to tell: the copy's report, which names the picture, is its one.
            if (copied || context.clipboard->hasPicture()) {
                trap.run(11, [&] {
                    if (context.spill == nullptr) {
                        throw RuntimeError(
                            platform::err::kPathNotFound,
                            QStringLiteral("The run has no folder for its pictures"));
                    }
                    kept = context.spill->keep(context.clipboard->picture());
                });
            }
            for (int turn = 0; turn < kFileWaitTurns && !ending(); ++turn) {
                if (trap.test(12, [&] { return !kept.isNull(); })) {
                    break;
                }
                yield();
            }
            if (trap.test(13, [&] { return kept.isNull(); })) {
                continue;
            }
            trap.run(14, [&] {
                context.results->appendResultRow(platform::shownPath(workbookPath),
                                                 QString::number(counter));
            });
            const int holder = runningImageNumber - 1;
            if (runningImageNumber != 1) {
                trap.run(15, [&] { context.results->createImageHolder(holder); });
            }
            trap.run(16, [&] {
                context.spill->checkReadable(kept);
                context.results->setImageHolderPicture(holder, kept);
            });
            trap.run(17, [&] {
                if (runningImageNumber == std::numeric_limits<int>::max()) {
                    throw RuntimeError(platform::err::kOverflow, QStringLiteral("Overflow"));
                }
                ++runningImageNumber;
            });
        }
    }
    trap.run(18, [&] {
        if (!excel)
            noObject();
        excel->setDisplayAlerts(false);
    });
    trap.run(19, [&] {
        if (!excel)
            noObject();
        excel->quit();
    });
}

}  // namespace extract
