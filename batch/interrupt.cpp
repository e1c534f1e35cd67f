#include "batch/interrupt.h"

#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "platform/livetemporaries.h"

namespace batch {
namespace {

std::atomic<int>* interruptSignal = nullptr;
bool clearLine = false;

void write2(const char* text) {
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, text, std::strlen(text));
}

// Everything here is safe in a signal handler: the temporaries go, one line is told, and the
// program ends without running anything of the threads still at work.
[[noreturn]] void endNow(int signal) {
    platform::removeLiveTemporaries();
    if (clearLine) {
        write2("\r\033[K");
    }
    write2("quillfen-batch: interrupted, ended at once\n");
    ::_exit(128 + signal);
}

void interrupted(int signal) {
    int first = 0;
    if (!interruptSignal->compare_exchange_strong(first, signal)) {
        endNow(first);
    }
    itimerval grace{};
    grace.it_value.tv_sec = kStopGraceMillis / 1000;
    grace.it_value.tv_usec = (kStopGraceMillis % 1000) * 1000;
    ::setitimer(ITIMER_REAL, &grace, nullptr);
}

void graceOver(int) {
    endNow(interruptSignal->load());
}

void install(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int held : {SIGINT, SIGTERM, SIGALRM}) {
        sigaddset(&action.sa_mask, held);
    }
    // No SA_RESTART: a read of standard input or a blocking open gives way to the signal.
    sigaction(signal, &action, nullptr);
}

}  // namespace

void installInterruptHandlers(std::atomic<int>* signal, bool errIsTerminal) {
    interruptSignal = signal;
    clearLine = errIsTerminal;
    install(SIGINT, interrupted);
    install(SIGTERM, interrupted);
    install(SIGALRM, graceOver);
    std::signal(SIGXFSZ, SIG_IGN);
}

void disarmStopGrace() {
    const itimerval none{};
    ::setitimer(ITIMER_REAL, &none, nullptr);
}

}  // namespace batch
