#include "app/addfolder.h"

#include <QCoreApplication>
#include <optional>
#include <vector>

#include "platform/dialogs.h"
#include "platform/directorylisting.h"
#include "platform/fileattributes.h"
#include "platform/filepath.h"
#include "platform/runtimeerror.h"

namespace app {
namespace {

using platform::DirectoryEntry;
using platform::FileIdentity;

void yieldToEvents() {
    QCoreApplication::processEvents();
}

bool isEnding(const bool* ending) {
    return ending != nullptr && *ending;
}

// A folder of the walk: its path, which folder it is, and the folder it was found in (an index
// into the walk's folders; none for a start folder).
struct WalkItem {
    QString path;  // ends in "/"
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

}  // namespace

const QString& FileNameArray::operator[](int index) const {
    static const QString kNothing;
    if (m_names.isEmpty() && index == 0) {
        return kNothing;
    }
    if (index < 1 || index > m_names.size()) {
        throw platform::RuntimeError(platform::err::kSubscriptOutOfRange,
                                     QStringLiteral("Subscript out of range"));
    }
    return m_names[index - 1];
}

QString ChooseFolder(QWidget* owner, const QString& prompt, platform::Dialogs& dialogs) {
    QString folder = dialogs.browseForFolder(owner, prompt);
    // The shell fills a NUL-padded buffer; only the text before the first NUL is the path.
    const qsizetype nul = folder.indexOf(QChar(u'\0'));
    if (nul >= 0) {
        folder.truncate(nul);
    }
    return folder;
}

void AddSubfolders(QStringList& folders, bool recurse, const bool* ending) {
    // Every folder walked remembers the one it was found in, so a link back up the tree is
    // known by the folders above it alone; a start folder listed twice is still walked twice,
    // as the caller asked.
    std::vector<WalkItem> walked;
    std::vector<std::size_t> level;
    for (const QString& folder : std::as_const(folders)) {
        std::optional<platform::FileStatus> status = platform::fileStatus(folder);
        level.push_back(walked.size());
        walked.push_back({folder, status ? status->identity : FileIdentity{}, std::nullopt});
    }

    QStringList found;
    while (!level.empty()) {
        std::vector<std::size_t> nextLevel;
        for (const std::size_t parent : level) {
            // The listing is read to its end before the next one starts.
            const std::vector<DirectoryEntry> entries =
                platform::readDirectory(walked[parent].path);
            yieldToEvents();
            for (const DirectoryEntry& entry : entries) {
                yieldToEvents();
                if (isEnding(ending)) {
                    return;
                }
                // Hidden folders are neither added nor searched; "?" stands for a name the
                // listing could not spell, so no path built from it would lead anywhere.
                if (entry.name.startsWith(QChar('.')) ||
                    platform::shownPath(entry.name).contains(QChar('?')) ||
                    entry.kind != DirectoryEntry::Kind::Folder) {
                    continue;
                }
                const QString path = walked[parent].path + entry.name;
                std::optional<platform::FileStatus> status = platform::fileStatus(path);
                if (!status || (status->attributes & platform::FILE_ATTRIBUTE_DIRECTORY) == 0 ||
                    isAbove(walked, parent, status->identity)) {
                    continue;
                }
                nextLevel.push_back(walked.size());
                walked.push_back({path + QChar('/'), status->identity, parent});
                found << walked.back().path;
            }
        }
        if (!recurse) {
            break;
        }
        level = std::move(nextLevel);
    }

    for (const QString& folder : found) {
        yieldToEvents();
        if (isEnding(ending)) {
            return;
        }
        folders << folder;
    }
}

FileNameArray ListFiles(const QString& folder, const QString& pattern) {
    const QString withSeparator = folder.endsWith(QChar('/')) ? folder : folder + QChar('/');
    QStringList names;
    names.reserve(100);
    for (const DirectoryEntry& entry : platform::readDirectory(withSeparator)) {
        if (entry.kind == DirectoryEntry::Kind::File &&
            platform::matchesPattern(entry.name, pattern)) {
            names << entry.name;
        }
    }
    return FileNameArray(std::move(names));
}

QString RepairRootPath(const QString& path) {
    if (path.startsWith(QStringLiteral("//"))) {
        return path.mid(1);
    }
    return path;
}

QString JoinAndRepair(const QString& folder, const QString& name) {
    return RepairRootPath(folder + QChar('/') + name);
}

}  // namespace app
