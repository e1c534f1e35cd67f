#pragma once

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

// A program run in a child process under limits of its own (setrlimit, another user), so that a
// test can meet a resource limit or a signal without the test program meeting it too.
struct ChildLimits {
    std::vector<std::pair<int, rlim_t>> limits;  // resource, soft and hard value
    bool asNobody = false;                       // run as the user "nobody" (only from root)
};

struct ChildOutcome {
    bool exited = false;  // false: ended by a signal, or did not end and was killed
    int status = -1;      // the exit status, or the signal
    bool hung = false;    // did not end within the test's patience and was killed
    std::string out, err;
};

// The user "nobody", whom a process limit binds, unlike root: looked up before the fork, as
// the child of a program with threads may only make system calls.
struct Nobody {
    uid_t uid = 65534;
    gid_t gid = 65534;
    Nobody() {
        if (const passwd* nobody = ::getpwnam("nobody")) {
            uid = nobody->pw_uid;
            gid = nobody->pw_gid;
        }
    }
    bool become() const {
        return ::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0;
    }
};

// Children run as "nobody" take turns across the test programs that ctest runs at once: a
// process limit counts every process and thread of that user, so two such children would
// spoil each other's limit. Held from before the fork until the child has been waited for.
class NobodyTurn {
public:
    explicit NobodyTurn(bool needed) {
        if (needed) {
            m_fd = ::open("/tmp/quillfen-tests-nobody.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0600);
            if (m_fd >= 0) {
                ::flock(m_fd, LOCK_EX);
            }
        }
    }
    ~NobodyTurn() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    NobodyTurn(const NobodyTurn&) = delete;
    NobodyTurn& operator=(const NobodyTurn&) = delete;

private:
    int m_fd = -1;
};

// Applies the limits in a forked child; false when one cannot be.
inline bool applyLimits(const ChildLimits& limits, const Nobody& nobody) {
    if (limits.asNobody && !nobody.become()) {
        return false;
    }
    for (const auto& [resource, value] : limits.limits) {
        const rlimit limit{value, value};
        if (::setrlimit(resource, &limit) != 0) {
            return false;
        }
    }
    return true;
}

// Runs a function in a forked child and gives its exit status: for a test of code that must
// meet a limit the test program itself must not. The child calls only what the function calls.
inline int inForkedChild(const ChildLimits& limits, const std::function<int()>& body) {
    const Nobody nobody;
    const NobodyTurn turn(limits.asNobody);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(applyLimits(limits, nobody) ? body() : 126);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Whether the process has a handler for the signal in place (its caught-signals mask).
inline bool catchesSignal(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> (signal - 1)) & 1;
        }
    }
    return false;
}

// Runs program with arguments; input goes to its standard input, which is closed afterwards
// unless keepInputOpen (then the child waits on it). whileRunning is called once the child has
// started; the child gets `patience` to end before it is killed and counted as hung.
inline ChildOutcome runChild(const std::string& program, const std::vector<std::string>& arguments,
                             const ChildLimits& limits = {}, const std::string& input = {},
                             bool keepInputOpen = false,
                             const std::function<void(pid_t)>& whileRunning = {},
                             std::chrono::seconds patience = std::chrono::seconds(60)) {
    int in[2], out[2], err[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) {
        return {};
    }
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const Nobody nobody;
    const NobodyTurn turn(limits.asNobody);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
            ::close(fd);
        }
        // The test program may hold signals off or ignore them; the child starts afresh.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGINT, SIGTERM, SIGXFSZ, SIGPIPE, SIGALRM}) {
            ::signal(s, SIG_DFL);
        }
        if (!applyLimits(limits, nobody)) {
            ::_exit(126);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (!input.empty()) {
        [[maybe_unused]] ssize_t written = ::write(in[1], input.data(), input.size());
    }
    if (!keepInputOpen) {
        ::close(in[1]);
    }
    if (whileRunning) {
        whileRunning(pid);
    }
    ChildOutcome outcome;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&outcome.out, &outcome.err};
    int open = 2;
    while (open > 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            outcome.hung = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, 100) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP))) {
                char buffer[4096];
                const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    sinks[i]->append(buffer, std::size_t(got));
                } else {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) {
            ::close(fd.fd);
        }
    }
    if (keepInputOpen) {
        ::close(in[1]);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.exited = !outcome.hung && WIFEXITED(status);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
    return outcome;
}

// Waits until the child has its handler for the signal in place, then sends it.
inline void signalOnceCaught(pid_t pid, int signal) {
    for (int i = 0; i < 3000 && !catchesSignal(pid, signal); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, signal);
}

}  // namespace testing_support
