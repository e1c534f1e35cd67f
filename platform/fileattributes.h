#pragma once

#include <QString>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// File attribute bits, valued as the behaviour counts them.
constexpr int FILE_ATTRIBUTE_READONLY = 1;
constexpr int FILE_ATTRIBUTE_HIDDEN = 2;
constexpr int FILE_ATTRIBUTE_SYSTEM = 4;
constexpr int FILE_ATTRIBUTE_DIRECTORY = 16;
constexpr int FILE_ATTRIBUTE_ARCHIVE = 32;
constexpr int INVALID_FILE_ATTRIBUTES = -1;

// Which file an entry really is, whatever path led to it (links followed).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    auto operator<=>(const FileIdentity&) const = default;
};

struct FileStatus {
    int attributes = 0;
    FileIdentity identity;
};

// The attributes and identity of a path, links followed; nothing when it cannot be read.
// Read-only: the permission class the user falls in (owner, group, others) grants no write,
// whoever the user is (root included, so the answer does not change with the account).
// Hidden: the last name begins with ".". System: never. Directory: a folder. Archive: every
// regular file.
std::optional<FileStatus> fileStatus(const QString& path);
// The same for a path given in its raw bytes.
std::optional<FileStatus> fileStatus(const std::string& nativePath);

// The attributes as above, or INVALID_FILE_ATTRIBUTES when the path cannot be read.
int GetFileAttributes(const QString& path);

// The attributes as above; raises the file-not-found error (53) when the path cannot be read.
int GetAttr(const QString& path);

}  // namespace platform
