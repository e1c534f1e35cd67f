#pragma once

#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

#include "batch/runbatch.h"

namespace batch {

// quillfen-batch --list: every workbook's worksheets and pictures on out, as text or JSON, the
// pictures placed in cells too with cellPictures; problems go to err. A signal stored in signal
// stops it between two pictures: what was read is listed (the JSON stays whole) and the status is
// 128 + the signal. Returns the exit status.
int runList(const std::vector<std::string>& files, bool json, bool cellPictures, std::ostream& out,
            std::ostream& err, const std::atomic<int>* signal = nullptr);

}  // namespace batch
