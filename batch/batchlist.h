#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "batch/runbatch.h"

namespace batch {

// quillfen-batch --list: every workbook's worksheets and pictures on out, as text or JSON;
// problems go to err. Returns the exit status.
int runList(const std::vector<std::string>& files, bool json, std::ostream& out, std::ostream& err);

}  // namespace batch
