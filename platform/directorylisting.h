#pragma once

#include <QString>
#include <string>
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

// One entry of a folder listing with its name in the file system's own bytes, which also
// reach a file whose name is not valid UTF-8.
struct RawDirectoryEntry {
    std::string name;
    DirectoryEntry::Kind kind = DirectoryEntry::Kind::Other;
};

// Every entry of the folder except "." and "..", sorted by the names' upper-case forms (UTF-16
// units, simple case mapping), as the file system the folder scan was written for lists a
// folder, whatever order this disk keeps. The listing is read to its end and closed before this
// returns. A folder that does not exist or cannot be read lists nothing.
std::vector<DirectoryEntry> readDirectory(const QString& folder);
// The same listing of a folder named by its raw path bytes.
std::vector<RawDirectoryEntry> readDirectoryBytes(const std::string& folder);

// A file name as the listing hands it on: UTF-8, with every byte that is not part of a valid
// UTF-8 sequence replaced by "?".
QString entryNameFromBytes(const char* bytes);

// The file system's wildcard match: "*" any run, "?" one character, letter case ignored, and a
// "." followed only by stars (or ending the pattern) may also match the end of a name, so "*.*"
// matches every name, with or without a dot.
bool matchesPattern(const QString& name, const QString& pattern);

}  // namespace platform
