#include "extract/image.h"

#include <QFileInfo>
#include <limits>

#include "automation/pictureclipboard.h"
#include "automation/registry.h"
#include "extract/resultstarget.h"
#include "extract/sharedpictures.h"
#include "platform/errorreport.h"
#include "platform/filepath.h"
#include "platform/mainmodule.h"
#include "platform/runtimeerror.h"

namespace extract {
namespace {

using platform::RuntimeError;

// What a member call on an application object that was never made raises.
[[noreturn]] void noObject() {
    throw RuntimeError(91, QStringLiteral("Object variable or With block variable not set"));
}

// The short-lived file of one picture: the picture counter and ".bmp", in the run's private
// folder (never beside the user's workbook). The folder is the run's alone, so the workbook's
// name is not needed, and a long one could not push the file's name past the system's limit.
QString pictureFileName(const QString& scratchFolder, int counter) {
    return scratchFolder + QChar('/') + QString::number(counter) + QStringLiteral(".bmp");
}

// The file-listing query: the file's name when a plain file of that path exists, else "".
QString listedName(const QString& path) {
    QFileInfo info(path);
    return info.isFile() ? info.fileName() : QString();
}

}  // namespace

void ExtractImagesByFile(const QString& workbookPath, int& runningImageNumber,
                         const ExtractionContext& context) {
    platform::ErrorTrap trap(*context.dialogs, context.owner, QStringLiteral("Image"),
                             QStringLiteral("ExtractImagesByFile"));
    auto ending = [&] { return context.ending && context.ending(); };
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
        if (!excel) noObject();
        excel->openWorkbook(workbookPath);
    });
    // A failed count leaves no loop to run: the workbook is done, and the instance still quits.
    trap.run(3, [&] {
        if (!excel) noObject();
        sheetCount = excel->worksheetCount();
    });
    for (int sheet = 1; sheet <= sheetCount && !ending(); ++sheet) {
        // A failed count leaves the previous sheet's count standing, as the value was not stored.
        trap.run(4, [&] { pictureCount = excel->pictureCount(sheet); });
        if (pictureCount == 0) {
            continue;
        }
        for (int picture = 1; picture <= pictureCount && !ending(); ++picture) {
            QString fileName;
            trap.run(5, [&] { ++counter; });
            trap.run(6, [&] { excel->selectPicture(sheet, picture); });
            // Nothing of an earlier picture may be saved under this one's number.
            context.clipboard->clear();
            trap.run(7, [&] { excel->copyPicture(sheet, picture); });
            trap.run(8, [&] { yield(); });
            trap.run(9, [&] { yield(); });
            trap.run(10, [&] { fileName = pictureFileName(context.scratchFolder, counter); });
            trap.run(11, [&] { context.clipboard->picture().save(fileName); });
            for (int turn = 0; turn < kFileWaitTurns && !ending(); ++turn) {
                if (trap.test(12, [&] { return platform::PathExists(fileName); })) {
                    break;
                }
                yield();
            }
            if (trap.test(13, [&] { return listedName(fileName).isEmpty(); })) {
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
                // A file that holds what the clipboard held keeps the clipboard's bytes, which
                // the earlier pictures of one image already share, not a copy read back.
                platform::Picture picture =
                    platform::Picture::load(fileName, context.clipboard->picture());
                if (context.shared != nullptr) {
                    picture = context.shared->share(picture);
                }
                context.results->setImageHolderPicture(holder, picture);
            });
            trap.run(17, [&] {
                if (runningImageNumber == std::numeric_limits<int>::max()) {
                    throw RuntimeError(platform::err::kOverflow, QStringLiteral("Overflow"));
                }
                ++runningImageNumber;
            });
            platform::DeleteFileQuietly(fileName);
        }
    }
    trap.run(18, [&] {
        if (!excel) noObject();
        excel->setDisplayAlerts(false);
    });
    trap.run(19, [&] {
        if (!excel) noObject();
        excel->quit();
    });
}

}  // namespace extract
