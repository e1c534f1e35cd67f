#pragma once

#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

namespace batch {

// Exit codes of quillfen-batch.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a workbook, a picture or a file failed
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // 128 + SIGINT

// Where quillfen-batch reads and writes.
struct Console {
    std::istream* in = nullptr;  // the paths after "-"
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;  // draw the progress line
    // Set to the signal's number by the program's handler; the run stops at its next step.
    const std::atomic<int>* interruptSignal = nullptr;
};

// quillfen-batch with its arguments (without the program name). Returns the exit status.
int runBatch(const std::vector<std::string>& arguments, const Console& console);
// The same with nothing on standard input and no terminal.
int runBatch(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace batch
