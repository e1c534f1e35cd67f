#include "batch/merge.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "batch/partrecord.h"
#include "batch/pathtext.h"
#include "encode/outputnames.h"

namespace batch {

Tally mergeParts(const std::function<std::optional<std::string>()>& nextPart, int workbooks,
                 const ExtractionSettings& settings, std::ostream& err,
                 const std::atomic<int>* interruptSignal, bool* failed) {
    Tally tally;
    encode::OutputPaths paths;
    Reporter reporter(tally, settings.manifest, [&err](const std::string& line) {
        err << line << "\n" << std::flush;
    });
    auto interrupted = [&] { return interruptSignal && interruptSignal->load() != 0; };
    while (!interrupted()) {
        // A signal while waiting for the next folder ends the wait as well.
        const std::optional<std::string> folder = nextPart();
        if (!folder) {
            break;
        }
        PartRecordReader record(*folder);
        // A signal stops the merge after the workbook in hand, well within the grace a run has
        // to end on its own.
        while (!interrupted()) {
            std::optional<WorkbookReport> workbook = record.next();
            if (!workbook) {
                break;
            }
            for (PictureReport& picture : workbook->pictures) {
                if (picture.baseName.isEmpty()) {
                    continue;
                }
                const QString path =
                    paths.claim(settings.outFolder, picture.baseName, picture.extension);
                // The part's file is whole, and on the same file system: it becomes the run's
                // file at once, replacing what was there as any write of the run does.
                if (picture.written &&
                    std::rename(picture.outputPath.c_str(), path.toStdString().c_str()) != 0) {
                    picture.written = false;
                    picture.skip = SkipKind::NotWritten;
                    picture.reason = std::strerror(errno);
                }
                if (picture.written) {
                    ++tally.picturesWritten;
                    tally.bytesRead += picture.bytes.value_or(0);
                }
                picture.outputPath = path.toStdString();
            }
            reporter.add(*workbook);
        }
        if (!record.error().empty()) {
            err << "quillfen-batch: cannot merge the part '" << displayText(*folder)
                << "': " << record.error() << "\n"
                << std::flush;
            *failed = true;
        }
    }
    tally.interrupted = interrupted();
    tally.workbooks = std::max(std::size_t(std::max(workbooks, 0)), tally.workbooksDone);
    return tally;
}

}  // namespace batch
