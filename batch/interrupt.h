#pragma once

#include <atomic>

namespace batch {

// After the first SIGINT or SIGTERM the run has this long to stop on its own (the pictures in
// hand abandoned, every file whole or absent, the manifest and the summary written); a run
// still going then is ended at once, as by a second signal.
constexpr int kStopGraceMillis = 800;

// Installs quillfen-batch's signal handling. SIGINT and SIGTERM store their number in signal,
// which the run looks at between its steps; a second one, or the end of the grace above, ends
// the program at once with 128 + the first signal's number, after removing every temporary
// file it was writing. SIGXFSZ is ignored, so that a file past the size limit (ulimit -f) is
// that file's error and the run goes on.
void installInterruptHandlers(std::atomic<int>* signal, bool errIsTerminal);

// The run has ended on its own: no grace runs out any more.
void disarmStopGrace();

}  // namespace batch
