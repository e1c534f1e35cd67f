#include "app/addfolder.h"

#include <QCoreApplication>
#include <optional>
#include <set>
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

// A folder of the walk and the start folder it was found below.
struct WalkItem {
    QString path;  // ends in "/"
    std::size_t start;
};

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
    // Each start folder keeps its own record of the folders walked below it: a link back up
    // the tree would otherwise make the walk endless, while a start folder listed twice is
    // still walked twice, as the caller asked.
    std::vector<std::set<FileIdentity>> walked(static_cast<std::size_t>(folders.size()));
    std::vector<WalkItem> level;
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const auto start = static_cast<std::size_t>(i);
        if (std::optional<platform::FileStatus> status = platform::fileStatus(folders[i])) {
            walked[start].insert(status->identity);
        }
        level.push_back({folders[i], start});
    }

    QStringList found;
    while (!level.empty()) {
        std::vector<WalkItem> nextLevel;
        for (const WalkItem& parent : level) {
            // The listing is read to its end before the next one starts.
            const std::vector<DirectoryEntry> entries = platform::readDirectory(parent.path);
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
                const QString path = parent.path + entry.name;
                std::optional<platform::FileStatus> status = platform::fileStatus(path);
                if (!status || (status->attributes & platform::FILE_ATTRIBUTE_DIRECTORY) == 0) {
                    continue;
                }
                if (!walked[parent.start].insert(status->identity).second) {
                    continue;
                }
                nextLevel.push_back({path + QChar('/'), parent.start});
                found << nextLevel.back().path;
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
