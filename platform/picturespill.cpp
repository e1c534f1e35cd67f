#include "platform/picturespill.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>

#include "platform/runtimeerror.h"

namespace platform {

namespace {

constexpr int kDiskFull = 61;
// A run folder without its spill file is a start that died at once, unless it is this young:
// then it may be another program's that is making its spill right now.
constexpr qint64 kEmptyFolderGraceSeconds = 60;

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

std::shared_ptr<PictureSpill> PictureSpill::create(const QString& root) {
    if (root.isEmpty()) {
        throw RuntimeError(err::kPathNotFound,
                           QStringLiteral("Cannot make a temporary folder for the pictures: "
                                          "neither the cache folder nor the temporary folder "
                                          "can be used"));
    }
    if (!QDir().mkpath(root)) {
        throw RuntimeError(
            err::kPathNotFound,
            QStringLiteral("Cannot make a temporary folder for the pictures in '%1'").arg(root));
    }
    QByteArray pattern = QFile::encodeName(root + QChar('/') + QLatin1String(kFolderPrefix) +
                                           QStringLiteral("XXXXXX"));
    if (::mkdtemp(pattern.data()) == nullptr) {
        const int error = errno;
        throw RuntimeError(
            err::kPathNotFound,
            QStringLiteral("Cannot make a temporary folder for the pictures in '%1': %2")
                .arg(root, systemReason(error)));
    }
    const QString folder = QFile::decodeName(pattern);
    const QByteArray file = pattern + '/' + kFileName;
    const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
            ::unlink(file.constData());
        }
        ::rmdir(pattern.constData());
        throw RuntimeError(err::kPathNotFound,
                           QStringLiteral("Cannot make the file for the pictures in '%1': %2")
                               .arg(folder, systemReason(error)));
    }
    return std::shared_ptr<PictureSpill>(new PictureSpill(folder, fd));
}

// The seed is the run's own, so no file can be made whose pictures all share one key.
PictureSpill::PictureSpill(QString folder, int fd)
    : m_folder(std::move(folder)), m_fd(fd), m_seed(QRandomGenerator::global()->generate64()) {}

PictureSpill::~PictureSpill() {
    const QByteArray folder = QFile::encodeName(m_folder);
    ::unlink((folder + '/' + kFileName).constData());
    ::close(m_fd);
    ::rmdir(folder.constData());
}

QString PictureSpill::filePath() const {
    return m_folder + QChar('/') + QLatin1String(kFileName);
}

void PictureSpill::fail(const QString& what, int error) const {
    m_failed.store(true);
    const bool full = error == ENOSPC || error == EDQUOT || error == EFBIG;
    throw RuntimeError(
        full ? kDiskFull : err::kPathNotFound,
        QStringLiteral("Cannot %1 '%2': %3").arg(what, filePath(), systemReason(error)));
}

Picture PictureSpill::keptAt(const Picture& picture, qint64 offset) const {
    Picture kept = picture;
    kept.m_bytes = QByteArray();
    kept.m_spill = shared_from_this();
    kept.m_offset = offset;
    return kept;
}

Picture PictureSpill::keep(const Picture& picture) {
    if (picture.isNull()) {
        throw RuntimeError(err::kInvalidPicture, QStringLiteral("Invalid picture"));
    }
    if (picture.m_spill.get() == this) {
        return picture;
    }
    const QByteArray bytes = picture.bytes();
    // One image shown many times comes from the engine as copies of one buffer: the last one
    // kept is known without reading anything back.
    if (bytes.constData() == m_last.constData() && bytes.size() == m_last.size()) {
        return keptAt(picture, m_lastOffset);
    }
    // A hash of all the bytes: pictures that differ share a key only by chance, so a picture
    // is compared with the bytes of another almost only when they are the same.
    const quint64 key = quint64(qHash(QByteArrayView(bytes), size_t(m_seed)));
    for (auto it = m_entries.constFind(key); it != m_entries.cend() && it.key() == key; ++it) {
        if (it->length == bytes.size() && read(it->offset, it->length) == bytes) {
            m_last = bytes;
            m_lastOffset = it->offset;
            return keptAt(picture, it->offset);
        }
    }
    const char* data = bytes.constData();
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            ::pwrite(m_fd, data + done, std::size_t(bytes.size() - done), off_t(m_size + done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            const int error = written < 0 ? errno : ENOSPC;
            // What part of the picture did go in is given back, so a full disk has its room
            // again. Where even that fails, the part stays past the end this spill knows: no
            // picture is read from there, and the next one is written over it.
            while (::ftruncate(m_fd, off_t(m_size)) != 0 && errno == EINTR) {
            }
            fail(QStringLiteral("write the picture to"), error);
        }
        done += written;
    }
    const qint64 offset = m_size;
    m_size += bytes.size();
    m_entries.insert(key, Entry{offset, bytes.size()});
    m_last = bytes;
    m_lastOffset = offset;
    return keptAt(picture, offset);
}

void PictureSpill::checkReadable(const Picture& picture) const {
    // The last byte read back shows the whole picture lies in the file.
    if (picture.m_spill.get() != this || picture.isNull()) {
        throw RuntimeError(err::kInvalidPicture, QStringLiteral("Invalid picture"));
    }
    read(picture.m_offset + picture.m_length - 1, 1);
}

QByteArray PictureSpill::read(qint64 offset, qint64 length) const {
    QByteArray bytes(length, Qt::Uninitialized);
    qint64 done = 0;
    while (done < length) {
        const ssize_t got =
            ::pread(m_fd, bytes.data() + done, std::size_t(length - done), off_t(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            fail(QStringLiteral("read the picture back from"), got < 0 ? errno : EIO);
        }
        done += got;
    }
    return bytes;
}

QString runFoldersRoot() {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty()) {
        const QString root = cache + QStringLiteral("/quillfen");
        // A folder that exists but takes no new folder (read-only) is no better than none.
        if (QDir().mkpath(root) &&
            ::access(QFile::encodeName(root).constData(), W_OK | X_OK) == 0) {
            return root;
        }
    }
    // A temporary folder that does not exist comes back as "", which must not put the runs'
    // folders at the root.
    const QString temp = QDir::tempPath();
    if (temp.isEmpty()) {
        return {};
    }
    const QString root = temp + QStringLiteral("/quillfen-") + QString::number(::getuid());
    // The temporary folder is everyone's: a folder of this name that another user made, or a
    // link, would let them move a run's folder away under the program and have it remove
    // files elsewhere. Only a folder of this user's that no one else writes to is used.
    const QByteArray path = QFile::encodeName(root);
    ::mkdir(path.constData(), 0700);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return {};
    }
    return root;
}

void removeStaleRunFolders(const QString& root) {
    if (root.isEmpty()) {
        return;  // QDir("") would be the working folder
    }
    const QDir dir(root);
    const QString prefix = QLatin1String(PictureSpill::kFolderPrefix);
    const QStringList folders = dir.entryList({prefix + QStringLiteral("??????")},
                                              QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& name : folders) {
        const QByteArray folder = QFile::encodeName(dir.filePath(name));
        const QByteArray file = folder + '/' + PictureSpill::kFileName;
        const int fd = ::open(file.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0) {
            // A running program holds the lock of its spill; one that died let it go.
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                ::unlink(file.constData());
            }
            ::close(fd);
        } else {
            const QDateTime made = QFileInfo(dir.filePath(name)).lastModified();
            if (made.secsTo(QDateTime::currentDateTime()) < kEmptyFolderGraceSeconds) {
                continue;
            }
        }
        // Only an empty folder goes: anything in it that is not ours stays, and so does it.
        ::rmdir(folder.constData());
    }
}

}  // namespace platform
