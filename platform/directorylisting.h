#pragma once

#include <QString>
#include <vector>

namespace platform {

// One entry of a folder listing. Links are followed to tell files from folders.
struct DirectoryEntry {
    enum class Kind { File, Folder, Other };

    // The name exactly as the file system holds it; one that is not valid UTF-8 keeps its bytes
    // (pathFromBytes), and shows with "?" in their place (shownPath).
    QString name;
    Kind kind = Kind::Other;
};

// Every entry of the folder except "." and "..", in the order the file system lists them (no
// sorting). The listing is read to its end and closed before this returns. A folder that does
// not exist or cannot be read lists nothing.
std::vector<DirectoryEntry> readDirectory(const QString& folder);

// The file system's wildcard match: "*" any run, "?" one character, letter case ignored, and a
// "." followed only by stars (or ending the pattern) may also match the end of a name, so "*.*"
// matches every name, with or without a dot.
bool matchesPattern(const QString& name, const QString& pattern);

}  // namespace platform
