#pragma once

#include <QString>
#include <QStringList>
#include <utility>

class QWidget;

namespace platform {
class Dialogs;
}

// The folder procedures: pick a folder, walk the folders below it, list the files in one. They
// trap nothing: what they raise reaches the calling handler's trap.
namespace app {

// A 1-based array of bare file names. When nothing matched it holds the single index 0 with an
// empty text, so a loop from 1 to upperBound() does nothing.
class FileNameArray {
public:
    FileNameArray() = default;
    explicit FileNameArray(QStringList names) : m_names(std::move(names)) {}

    int lowerBound() const { return m_names.isEmpty() ? 0 : 1; }
    int upperBound() const { return static_cast<int>(m_names.size()); }
    // Raises the subscript-out-of-range error (9) outside lowerBound()..upperBound().
    const QString& operator[](int index) const;

    // The names alone (nothing when nothing matched), for range-for loops.
    QStringList::const_iterator begin() const { return m_names.cbegin(); }
    QStringList::const_iterator end() const { return m_names.cend(); }

private:
    QStringList m_names;
};

// The folder-browse dialog: the chosen folder without a trailing "/" (the root keeps its own),
// or "" when the user cancels.
QString ChooseFolder(QWidget* owner, const QString& prompt, platform::Dialogs& dialogs);

// Appends to folders (each entry a folder path ending in "/") every visible subfolder of every
// entry, and with recurse every deeper level too, level by level: first-level subfolders
// grouped by parent in the parents' order, then the second level, and so on. Hidden folders
// are neither added nor searched; names holding "?" are skipped. The message loop gets a turn
// at each step. A link back up the tree (to the folder it is in or one above) is not followed,
// so the walk always ends; a folder reached by two roads (a link to a sibling) is walked on
// both, up to platform::kMaxWalksPerFolder roads. When *ending turns true the walk stops at its
// next turn. Past platform::kMaxWalkEntries entries the walk stops: the folders found until then
// are appended, then RuntimeError names the folder where it stopped.
void AddSubfolders(QStringList& folders, bool recurse, const bool* ending = nullptr);

// The names of the files in the folder that match the wildcard pattern, in listing order;
// hidden files included, folders not; a name that is not valid UTF-8 keeps its bytes. The folder
// may end in "/" or not. A missing folder gives upper bound 0.
FileNameArray ListFiles(const QString& folder, const QString& pattern);

// The root repair of a joined path: a folder at the root joined with a name gives "//name";
// the leading "//" becomes "/". Nothing else changes.
QString RepairRootPath(const QString& path);

// folder + "/" + name, then the root repair.
QString JoinAndRepair(const QString& folder, const QString& name);

}  // namespace app
