#include "encode/wholefile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>

#include "platform/livetemporaries.h"

namespace encode {

namespace {

constexpr int kTemporaryNameAttempts = 100;
// A temporary last written this long before a save started may still be one that another
// program has made but not yet locked; it is left for a later save.
constexpr qint64 kStaleMarginSeconds = 10;

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The temporary file is hidden and named as no person names a file: our name and 16 random
// hexadecimal digits. It stays locked for as long as it is written, so that a sweep of another
// save, in this program or another one, can tell it from a leftover of a killed one.
int createTemporary(const QFileInfo& target, QByteArray* temporaryPath, int* slot) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const QString name =
            QStringLiteral(".quillfen-%1.tmp")
                .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        *temporaryPath = QFile::encodeName(target.dir().filePath(name));
        int fd = platform::createLiveTemporary(temporaryPath->constData(), slot);
        if (fd >= 0) {
            // Only another open file can hold the lock, and nothing else knows this file yet.
            ::flock(fd, LOCK_EX | LOCK_NB);
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, std::size_t(size));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// Whether the file is a temporary of ours that nobody writes any more: a regular file of this
// user, not written since before the save, whose lock can be taken. It is removed while the
// lock is held, so a writer cannot take it meanwhile.
void removeIfStale(const QByteArray& path, const QDateTime& before) {
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid() ||
        QDateTime::fromSecsSinceEpoch(status.st_mtim.tv_sec) >=
            before.addSecs(-kStaleMarginSeconds)) {
        return;
    }
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        ::unlink(path.constData());
    }
    ::close(fd);
}

}  // namespace

bool isTemporaryName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^\\.quillfen-[0-9a-f]{16}\\.tmp$"));
    return pattern.match(name).hasMatch();
}

void removeStaleTemporaries(const QString& folder, const QDateTime& before) {
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral(".quillfen-*.tmp")},
                                            QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (isTemporaryName(name)) {
            removeIfStale(QFile::encodeName(dir.filePath(name)), before);
        }
    }
}

QString writeWholeFile(const QString& path, std::initializer_list<QByteArrayView> pieces) {
    QFileInfo target(path);
    if (!QFileInfo(target.absolutePath()).isDir()) {
        return QStringLiteral("the folder does not exist");
    }
    QByteArray temporary;
    int slot = -1;
    int fd = createTemporary(target, &temporary, &slot);
    if (fd < 0) {
        return systemReason(errno);
    }
    bool ok = true;
    for (QByteArrayView piece : pieces) {
        ok = ok && writeAll(fd, piece.data(), piece.size());
    }
    int error = ok ? 0 : errno;
    // close() is where some file systems report a failed write; it counts like one.
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.constData());
    }
    platform::releaseLiveTemporary(slot);
    return ok ? QString() : systemReason(error);
}

}  // namespace encode
