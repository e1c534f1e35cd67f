#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "batch/options.h"

namespace batch {

class ManifestWriter;
class PartRecordWriter;

// Why a picture found in a workbook was not written.
// TooManyPixels: past its workbook's limit of pixels drawn (encode::PixelBudget).
enum class SkipKind { Linked, Unreadable, Undecodable, NotWritten, Interrupted, TooManyPixels };
constexpr std::size_t kSkipKinds = 6;

// The counts of a run, for the progress line and the summary.
struct Tally {
    std::size_t workbooks = 0;  // to do
    std::size_t workbooksDone = 0;
    std::size_t workbooksFailed = 0;   // did not open
    std::size_t workbooksDamaged = 0;  // opened, but lost pictures to damage
    std::size_t picturesFound = 0;
    std::size_t picturesWritten = 0;
    std::uint64_t bytesRead = 0;  // stored picture bytes
    std::array<std::size_t, kSkipKinds> skipped{};
    bool interrupted = false;

    std::size_t picturesSkipped() const;
};

struct ExtractionSettings {
    QString outFolder;
    OutputFormat format = OutputFormat::Jpg;
    int quality = 85;
    int jobs = 1;
    ManifestWriter* manifest = nullptr;
    PartRecordWriter* part = nullptr;  // also record each workbook for a later merge
    bool progress = false;             // draw the progress line on err
    bool cellPictures = false;         // each worksheet's in-cell pictures after its floating ones
};

// Takes every picture out of the workbooks, in input order as far as anyone can see: the output
// names are claimed, the problem lines written and the manifest rows added in the order of the
// workbooks and their pictures, however the jobs interleave. One more thread reads the next
// pictures while the jobs decode and encode. At most a few workbooks per job are open at once,
// each job holds one picture and a few more wait read, so memory does not grow with the run.
// Problem lines ("path: reason") go to err as each workbook completes.
Tally extractPictures(const std::vector<std::string>& workbooks, const ExtractionSettings& settings,
                      std::ostream& err, const std::atomic<int>* interruptSignal);

// The summary lines of a run.
std::string summaryText(const Tally& tally, const QString& outFolder,
                        std::chrono::duration<double> elapsed);

}  // namespace batch
