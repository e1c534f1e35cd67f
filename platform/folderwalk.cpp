#include "platform/folderwalk.h"

#include <optional>
#include <set>

#include "platform/directorylisting.h"

namespace platform {
namespace {

// A folder of the walk and the start folder it was found below.
struct WalkItem {
    std::string path;  // ends in "/"
    std::size_t start;
};

bool stops(const WalkTurn& turn) {
    return turn && turn();
}

}  // namespace

bool walkSubfolders(const std::vector<std::string>& starts, bool recurse,
                    std::vector<std::string>& found, const SkipFolderName& skipName,
                    const WalkTurn& turn) {
    // Each start folder keeps its own record of the folders walked below it: a link back up
    // the tree would otherwise make the walk endless, while a start folder listed twice is
    // still walked twice, as the caller asked.
    std::vector<std::set<FileIdentity>> walked(starts.size());
    std::vector<WalkItem> level;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        if (std::optional<FileStatus> status = fileStatus(starts[i])) {
            walked[i].insert(status->identity);
        }
        level.push_back({starts[i], i});
    }
    while (!level.empty()) {
        std::vector<WalkItem> nextLevel;
        for (const WalkItem& parent : level) {
            // The listing is read to its end before the next one starts.
            const std::vector<RawDirectoryEntry> entries = readDirectoryBytes(parent.path);
            if (stops(turn)) {
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
                const std::string path = parent.path + entry.name;
                std::optional<FileStatus> status = fileStatus(path);
                if (!status || (status->attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                    continue;
                }
                if (!walked[parent.start].insert(status->identity).second) {
                    continue;
                }
                nextLevel.push_back({path + '/', parent.start});
                found.push_back(nextLevel.back().path);
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

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.ends_with('/')) {
        path += '/';
    }
    return path += name;
}

}  // namespace platform
