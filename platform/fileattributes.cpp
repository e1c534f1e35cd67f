#include "platform/fileattributes.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string_view>
#include <vector>

#include "platform/filepath.h"
#include "platform/runtimeerror.h"

namespace platform {
namespace {

bool userInGroup(gid_t group) {
    if (getegid() == group) {
        return true;
    }
    int count = getgroups(0, nullptr);
    if (count <= 0) {
        return false;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    count = getgroups(count, groups.data());
    for (int i = 0; i < count; ++i) {
        if (groups[static_cast<std::size_t>(i)] == group) {
            return true;
        }
    }
    return false;
}

// Writable by the permission bits alone: root bypasses them, but a file marked read-only for
// its owner should read as read-only for everyone, as the attribute does.
bool writableByUser(const struct stat& st) {
    if (st.st_uid == geteuid()) {
        return (st.st_mode & S_IWUSR) != 0;
    }
    if (userInGroup(st.st_gid)) {
        return (st.st_mode & S_IWGRP) != 0;
    }
    return (st.st_mode & S_IWOTH) != 0;
}

// The last name of the path (trailing "/" ignored) begins with ".".
bool hiddenName(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return name.starts_with('.') && name != "." && name != "..";
}

}  // namespace

std::optional<FileStatus> fileStatus(const std::string& nativePath) {
    if (nativePath.empty()) {
        return std::nullopt;
    }
    struct stat st {};
    if (::stat(nativePath.c_str(), &st) != 0) {
        return std::nullopt;
    }
    FileStatus status;
    status.identity = {static_cast<std::uint64_t>(st.st_dev),
                       static_cast<std::uint64_t>(st.st_ino)};
    if (!writableByUser(st)) {
        status.attributes |= FILE_ATTRIBUTE_READONLY;
    }
    if (hiddenName(nativePath)) {
        status.attributes |= FILE_ATTRIBUTE_HIDDEN;
    }
    if (S_ISDIR(st.st_mode)) {
        status.attributes |= FILE_ATTRIBUTE_DIRECTORY;
    } else if (S_ISREG(st.st_mode)) {
        status.attributes |= FILE_ATTRIBUTE_ARCHIVE;
    }
    return status;
}

std::optional<FileStatus> fileStatus(const QString& path) {
    return fileStatus(pathToBytes(path).toStdString());
}

int GetFileAttributes(const QString& path) {
    std::optional<FileStatus> status = fileStatus(path);
    return status ? status->attributes : INVALID_FILE_ATTRIBUTES;
}

int GetAttr(const QString& path) {
    std::optional<FileStatus> status = fileStatus(path);
    if (!status) {
        throw RuntimeError(err::kFileNotFound, QStringLiteral("File not found"));
    }
    return status->attributes;
}

}  // namespace platform
