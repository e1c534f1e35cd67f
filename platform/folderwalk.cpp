#include "platform/folderwalk.h"

#include <optional>

#include "platform/directorylisting.h"

namespace platform {
namespace {

// A folder of the walk: its path, which folder it is, and the folder it was found in (an index
// into the walk's folders; none for a start folder).
struct WalkItem {
    std::string path;  // ends in "/"
    FileIdentity identity;
    std::optional<std::size_t> parent;
};

// Whether the folder is the parent or a folder above it: a link back up the tree, which would
// make the walk endless. A folder reached again by another road (a link to a sibling) is not.
bool isAbove(const std::vector<WalkItem>& walked, std::size_t parent, const FileIdentity& folder) {
    for (std::optional<std::size_t> at = parent; at; at = walked[*at].parent) {
        if (walked[*at].identity == folder) {
            return true;
        }
    }
    return false;
}

bool stops(const WalkTurn& turn) {
    return turn && turn();
}

}  // namespace

bool walkSubfolders(const std::vector<std::string>& starts, bool recurse,
                    std::vector<std::string>& found, const SkipFolderName& skipName,
                    const WalkTurn& turn, WalkBudget* budget) {
    WalkBudget own;
    WalkBudget& spent = budget ? *budget : own;
    // One more road to a folder, unless it has had its share.
    auto mayWalk = [&spent](const FileIdentity& folder) {
        return ++spent.walks[folder] <= kMaxWalksPerFolder;
    };
    // Every folder walked remembers the one it was found in, so a link back up the tree is
    // known by the folders above it alone; a start folder listed twice is still walked twice,
    // as the caller asked.
    std::vector<WalkItem> walked;
    std::vector<std::size_t> level;
    for (const std::string& start : starts) {
        std::optional<FileStatus> status = fileStatus(start);
        if (status && !mayWalk(status->identity)) {
            continue;
        }
        level.push_back(walked.size());
        walked.push_back({start, status ? status->identity : FileIdentity{}, std::nullopt});
    }
    while (!level.empty()) {
        std::vector<std::size_t> nextLevel;
        for (const std::size_t parent : level) {
            // The listing is read to its end before the next one starts.
            const std::vector<RawDirectoryEntry> entries = readDirectoryBytes(walked[parent].path);
            if (stops(turn)) {
                return false;
            }
            spent.entries += entries.size();
            if (spent.entries > spent.maxEntries) {
                spent.stoppedAt = walked[parent].path;
                return false;
            }
            for (const RawDirectoryEntry& entry : entries) {
                if (stops(turn)) {
                    return false;
                }
                if (entry.name.starts_with('.') || entry.kind != DirectoryEntry::Kind::Folder ||
                    (skipName && skipName(entry.name))) {
                    continue;
                }
                std::string path = walked[parent].path + entry.name;
                std::optional<FileStatus> status = fileStatus(path);
                if (!status || (status->attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
                    isAbove(walked, parent, status->identity) || !mayWalk(status->identity)) {
                    continue;
                }
                nextLevel.push_back(walked.size());
                walked.push_back({path + '/', status->identity, parent});
                found.push_back(walked.back().path);
            }
        }
        if (!recurse) {
            break;
        }
        level = std::move(nextLevel);
    }
    return true;
}

std::vector<std::string> matchingFiles(const std::string& folder, const QString& pattern) {
    const std::string withSeparator = folder.ends_with('/') ? folder : folder + '/';
    std::vector<std::string> names;
    for (RawDirectoryEntry& entry : readDirectoryBytes(withSeparator)) {
        if (entry.kind == DirectoryEntry::Kind::File &&
            matchesPattern(entryNameFromBytes(entry.name.c_str()), pattern)) {
            names.push_back(std::move(entry.name));
        }
    }
    return names;
}

bool skippedByFolderScan(std::string_view name, int attributes) {
    return name.starts_with('~') || attributes == kScanSkippedAttributes;
}

bool walkedAsFolder(int attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_HIDDEN) == 0;
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.ends_with('/')) {
        path += '/';
    }
    return path += name;
}

}  // namespace platform
