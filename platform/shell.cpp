#include "platform/shell.h"

#include <spawn.h>
#include <sys/wait.h>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>

#include "platform/filepath.h"

extern char** environ;

namespace platform {
namespace {

// How long a launcher's failure still counts as the answer to "open this folder". A launcher
// that is still running then has started the file manager in the foreground; when that ends
// is no failure.
constexpr int kAnswerWindowMs = 5000;
constexpr int kFirstPollMs = 50;
constexpr int kLatePollMs = 1000;

constexpr int kNoLauncher = -1;
constexpr int kNoSuchFile = 2;
constexpr int kNoProgram = 3;

// Reaps the launcher whenever it ends, so it leaves no zombie, and tells a failure that comes
// within the answer window. It is never killed: the file manager it runs is the user's.
class LauncherWatch : public QObject {
public:
    LauncherWatch(pid_t pid, QString folder, Shell::Failed failed)
        : QObject(QCoreApplication::instance()),
          m_pid(pid),
          m_folder(std::move(folder)),
          m_failed(std::move(failed)) {
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_clock.start();
        m_timer.start(kFirstPollMs);
    }

private:
    void poll() {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        const bool answering = m_clock.elapsed() <= kAnswerWindowMs;
        if (done == 0) {
            if (!answering) {
                m_timer.setInterval(kLatePollMs);
            }
            return;
        }
        m_timer.stop();
        deleteLater();
        const bool failed = !WIFEXITED(status) || WEXITSTATUS(status) != 0;
        if (done == m_pid && answering && failed && m_failed) {
            m_failed(folderNotOpenedText(m_folder, WIFEXITED(status) ? WEXITSTATUS(status) : 4));
        }
    }

    pid_t m_pid;
    QString m_folder;
    Shell::Failed m_failed;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

}  // namespace

QString folderNotOpenedText(const QString& folder, int launcherExit) {
    QString why;
    switch (launcherExit) {
        case kNoSuchFile:
            why = QStringLiteral("the folder does not exist");
            break;
        case kNoLauncher:
        case kNoProgram:
            why = QStringLiteral("no file manager is set up to show folders");
            break;
        default:
            why = QStringLiteral("the file manager could not show it");
            break;
    }
    return QStringLiteral("Cannot open the folder '%1': %2.").arg(shownPath(folder), why);
}

void DesktopShell::openFolder(const QString& folder, Failed failed) {
    const QByteArray path = pathToBytes(folder);
    char program[] = "xdg-open";
    char* argv[] = {program, const_cast<char*>(path.constData()), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) == 0) {
        new LauncherWatch(pid, folder, std::move(failed));
        return;
    }
    // Without xdg-open, Qt tries the desktop's own launcher.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)) && failed) {
        failed(folderNotOpenedText(folder, kNoLauncher));
    }
}

}  // namespace platform
