#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <ostream>
#include <utility>
#include <vector>

#include "platform/directorylisting.h"

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace testing_support {

// A throw-away folder tree for the folder walks: folders, files, links and raw byte names.
class FileTree {
public:
    // Qt cannot name entries whose names are not UTF-8, so the tree is removed byte-wise.
    ~FileTree() {
        for (const auto& [folder, name] : m_beyondLimit) {
            int dir = ::open(folder.constData(), O_DIRECTORY | O_RDONLY);
            ::unlinkat(dir, name.constData(), 0);
            ::close(dir);
        }
        nftw(
            QFile::encodeName(m_dir.path()).constData(),
            [](const char* p, const struct stat*, int, struct FTW*) { return std::remove(p); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }

    // The tree's root, without a trailing "/".
    QString root() const { return m_dir.path(); }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    QString folder(const QString& relative) const {
        ::mkdir(QFile::encodeName(path(relative)).constData(), 0755);
        return path(relative);
    }
    QString file(const QString& relative, mode_t mode = 0644) const {
        return rawFile(QFile::encodeName(path(relative)), mode);
    }
    // A file whose name is given in raw bytes, e.g. one that is not valid UTF-8.
    QString rawFile(const QByteArray& rawPath, mode_t mode = 0644) const {
        int fd = ::open(rawPath.constData(), O_CREAT | O_WRONLY | O_TRUNC, mode);
        if (fd >= 0) {
            [[maybe_unused]] ssize_t written = ::write(fd, "x", 1);
            ::close(fd);
        }
        ::chmod(rawPath.constData(), mode);
        return QFile::decodeName(rawPath);
    }
    QByteArray raw(const QString& relative) const { return QFile::encodeName(path(relative)); }
    void link(const QString& target, const QString& relative) const {
        ::symlink(QFile::encodeName(target).constData(), raw(relative).constData());
    }
    // A file named name in a folder below relative so deep that folder and name together pass
    // the system's path limit: the folder lists the file, but no call can reach it by its path.
    // Returns the folder. The name needs 200 characters or more.
    QString fileBeyondPathLimit(const QString& relative, const QString& name) {
        QString folder = path(relative);
        while (folder.size() + 1 + name.size() <= 4096) {
            folder +=
                QChar('/') + QString(std::min<qsizetype>(200, 3900 - folder.size()), QChar('d'));
            ::mkdir(QFile::encodeName(folder).constData(), 0755);
        }
        int dir = ::open(QFile::encodeName(folder).constData(), O_DIRECTORY | O_RDONLY);
        ::close(::openat(dir, QFile::encodeName(name).constData(), O_CREAT | O_WRONLY, 0644));
        ::close(dir);
        m_beyondLimit.push_back({QFile::encodeName(folder), QFile::encodeName(name)});
        return folder;
    }
    // The names of a folder in the order the file system lists them.
    QStringList listed(const QString& relative) const {
        QStringList names;
        for (const platform::DirectoryEntry& e : platform::readDirectory(path(relative))) {
            names << e.name;
        }
        return names;
    }

private:
    QTemporaryDir m_dir;
    std::vector<std::pair<QByteArray, QByteArray>> m_beyondLimit;
};

}  // namespace testing_support
