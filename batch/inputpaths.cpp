#include "batch/inputpaths.h"

#include <QString>
#include <functional>
#include <optional>

#include "platform/fileattributes.h"
#include "platform/folderwalk.h"

namespace batch {
namespace {

// The window's default extension, then OpenDocument spreadsheets.
const QString kWorkbookPatterns[] = {QStringLiteral("*.xl*"), QStringLiteral("*.ods")};

bool isFolder(const std::string& path) {
    std::optional<platform::FileStatus> status = platform::fileStatus(path);
    return status && platform::walkedAsFolder(status->attributes);
}

// Returns false when the walk was stopped, by an interruption or by the budget.
bool addFolder(std::string folder, std::vector<std::string>& workbooks,
               const std::function<bool()>& interrupted, platform::WalkBudget& budget) {
    // A folder given with a trailing "/" is the same folder; the root keeps its own.
    while (folder.size() > 1 && folder.ends_with('/')) {
        folder.pop_back();
    }
    std::vector<std::string> folders{platform::joinPath(folder, "")};
    std::vector<std::string> found;
    const bool whole = platform::walkSubfolders(folders, true, found, {}, interrupted, &budget);
    folders.insert(folders.end(), found.begin(), found.end());
    for (const std::string& each : folders) {
        if (interrupted && interrupted()) {
            return false;
        }
        for (const QString& pattern : kWorkbookPatterns) {
            for (const std::string& name : platform::matchingFiles(each, pattern)) {
                std::string path = platform::joinPath(each, name);
                std::optional<platform::FileStatus> status = platform::fileStatus(path);
                // A file whose attributes cannot be read is still taken: opening it says why.
                if (!platform::skippedByFolderScan(
                        name, status ? status->attributes : platform::INVALID_FILE_ATTRIBUTES)) {
                    workbooks.push_back(std::move(path));
                }
            }
        }
    }
    return whole;
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

std::vector<std::string> workbookPaths(const std::vector<std::string>& paths,
                                       const std::function<bool()>& interrupted,
                                       std::string* walkStoppedAt) {
    std::vector<std::string> workbooks;
    // One budget for the whole command line: a folder given twice, or reached from two given
    // folders, counts its walks together.
    platform::WalkBudget budget;
    for (const std::string& path : paths) {
        if (!isFolder(path)) {
            workbooks.push_back(path);
        } else if (!addFolder(path, workbooks, interrupted, budget)) {
            break;
        }
    }
    if (walkStoppedAt) {
        *walkStoppedAt = budget.stoppedAt;
    }
    return workbooks;
}

}  // namespace batch
