#include "encode/wholefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>

namespace encode {

namespace {

constexpr int kTemporaryNameAttempts = 100;

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The temporary file is hidden and begins with the final name, so a reader listing the folder
// mid-write sees nothing new, and a leftover after a power cut says where it came from.
int createTemporary(const QFileInfo& target, QByteArray* temporaryPath) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        QString name = QStringLiteral(".%1.%2.tmp")
                           .arg(target.fileName())
                           .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        *temporaryPath = QFile::encodeName(target.dir().filePath(name));
        int fd = ::open(temporaryPath->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
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

}  // namespace

QString writeWholeFile(const QString& path, std::initializer_list<QByteArrayView> pieces) {
    QFileInfo target(path);
    if (!QFileInfo(target.absolutePath()).isDir()) {
        return QStringLiteral("the folder does not exist");
    }
    QByteArray temporary;
    int fd = createTemporary(target, &temporary);
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
        return systemReason(error);
    }
    return {};
}

}  // namespace encode
