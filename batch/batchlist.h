#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace batch {

// Exit codes of quillfen-batch.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a workbook, a part of one or a picture could not be read
constexpr int kExitUsage = 2;

// quillfen-batch with its arguments (without the program name): lists every workbook's
// worksheets and pictures on out, as text or JSON; problems and usage go to err.
int runBatch(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace batch
