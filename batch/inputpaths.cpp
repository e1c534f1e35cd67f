#include "batch/inputpaths.h"

#include <QString>
#include <optional>

#include "platform/fileattributes.h"
#include "platform/folderwalk.h"

namespace batch {
namespace {

const QString kWorkbookPattern = QStringLiteral("*.xl*");

bool isFolder(const std::string& path) {
    std::optional<platform::FileStatus> status = platform::fileStatus(path);
    return status && platform::walkedAsFolder(status->attributes);
}

void addFolder(std::string folder, std::vector<std::string>& workbooks) {
    // A folder given with a trailing "/" is the same folder; the root keeps its own.
    while (folder.size() > 1 && folder.ends_with('/')) {
        folder.pop_back();
    }
    std::vector<std::string> folders{platform::joinPath(folder, "")};
    std::vector<std::string> found;
    platform::walkSubfolders(folders, true, found);
    folders.insert(folders.end(), found.begin(), found.end());
    for (const std::string& each : folders) {
        for (const std::string& name : platform::matchingFiles(each, kWorkbookPattern)) {
            std::string path = platform::joinPath(each, name);
            std::optional<platform::FileStatus> status = platform::fileStatus(path);
            // A file whose attributes cannot be read is still taken: opening it says why not.
            if (!platform::skippedByFolderScan(
                    name, status ? status->attributes : platform::INVALID_FILE_ATTRIBUTES)) {
                workbooks.push_back(std::move(path));
            }
        }
    }
}

}  // namespace

std::vector<std::string> splitPathList(std::string_view text) {
    const bool nulSeparated = text.find('\0') != std::string_view::npos;
    const char separator = nulSeparated ? '\0' : '\n';
    std::vector<std::string> paths;
    while (!text.empty()) {
        std::size_t end = text.find(separator);
        std::string_view entry = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!nulSeparated && entry.ends_with('\r')) {
            entry.remove_suffix(1);
        }
        if (!entry.empty()) {
            paths.emplace_back(entry);
        }
    }
    return paths;
}

std::vector<std::string> workbookPaths(const std::vector<std::string>& paths) {
    std::vector<std::string> workbooks;
    for (const std::string& path : paths) {
        if (isFolder(path)) {
            addFolder(path, workbooks);
        } else {
            workbooks.push_back(path);
        }
    }
    return workbooks;
}

}  // namespace batch
