#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "batch/extraction.h"

namespace batch {

// quillfen-batch --merge: the parts of a run that quillfen-cluster cut into tasks, made one run.
// Reads the record of each part folder that nextPart gives, in that order, claims each picture's
// name in the output folder by the clash rule over the whole run, moves the part's file there,
// and tells every workbook (lines on err, manifest rows, counts) as one run over all of them
// does. workbooks is the whole run's count, or -1 for the parts' own. failed is set when a part
// cannot be read.
Tally mergeParts(const std::function<std::optional<std::string>()>& nextPart, int workbooks,
                 const ExtractionSettings& settings, std::ostream& err,
                 const std::atomic<int>* interruptSignal, bool* failed);

}  // namespace batch
