#include "encode/wholefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>

namespace encode {

namespace {

constexpr int kTemporaryNameAttempts = 100;
constexpr int kTemporaryNameStart = 64;  // characters of the final name; at most 192 bytes

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The temporary file is hidden and begins with the final name, so a reader listing the folder
// mid-write sees nothing new, and a leftover after a power cut says where it came from. Only
// the name's start is used: a final name near the length limit must not fail for its temporary.
int createTemporary(const QFileInfo& target, QByteArray* temporaryPath) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        QString name = QStringLiteral(".%1.%2.tmp")
                           .arg(target.fileName().left(kTemporaryNameStart))
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

bool isTemporaryName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^\\..+\\.[0-9a-f]{8}\\.tmp$"));
    return pattern.match(name).hasMatch();
}

void removeStaleTemporaries(const QString& folder, const QDateTime& before) {
    const QDir dir(folder);
    const QFileInfoList entries = dir.entryInfoList({QStringLiteral(".*.tmp")},
                                                    QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries) {
        if (isTemporaryName(entry.fileName()) && entry.lastModified() < before) {
            QFile::remove(entry.filePath());
        }
    }
}

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
