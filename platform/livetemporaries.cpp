#include "platform/livetemporaries.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace platform {
namespace {

// Files being written at once: one per job and the manifest; far below this.
constexpr int kSlots = 1024;

enum State : int { kFree, kCreating, kLive };

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};

Slot slots[kSlots];
std::atomic<bool> closing{false};

// The signals whose handlers remove the temporaries: held off while a slot is being filled,
// so that a handler never waits for a creation on its own thread.
class HoldSignals {
public:
    HoldSignals() {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGALRM}) {
            sigaddset(&held, signal);
        }
        pthread_sigmask(SIG_BLOCK, &held, &m_saved);
    }
    ~HoldSignals() { pthread_sigmask(SIG_SETMASK, &m_saved, nullptr); }

private:
    sigset_t m_saved;
};

}  // namespace

int createLiveTemporary(const char* path, int* slot) {
    *slot = -1;
    if (std::strlen(path) >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return -1;
    }
    HoldSignals held;
    for (int i = 0; i < kSlots && *slot < 0; ++i) {
        int expected = kFree;
        if (slots[i].state.compare_exchange_strong(expected, kCreating)) {
            *slot = i;
        }
    }
    if (*slot < 0) {
        errno = EAGAIN;
        return -1;
    }
    Slot& mine = slots[*slot];
    // The slot is marked before the flag is read, and the remover sets the flag before it reads
    // the slots: either this creation sees it is too late, or the remover waits for it.
    if (closing.load()) {
        mine.state.store(kFree);
        *slot = -1;
        errno = EINTR;
        return -1;
    }
    std::strcpy(mine.path, path);
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    const int error = errno;
    if (fd < 0) {
        mine.state.store(kFree);
        *slot = -1;
    } else {
        mine.state.store(kLive);
    }
    errno = error;
    return fd;
}

void releaseLiveTemporary(int slot) {
    if (slot >= 0 && slot < kSlots) {
        slots[slot].state.store(kFree);
    }
}

void removeLiveTemporaries() {
    closing.store(true);
    for (Slot& slot : slots) {
        int state = slot.state.load();
        while (state == kCreating) {
            state = slot.state.load();
        }
        if (state == kLive) {
            ::unlink(slot.path);
        }
    }
}

}  // namespace platform
