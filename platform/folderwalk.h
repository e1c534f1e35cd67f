#pragma once

#include <QString>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fileattributes.h"

// The folder scan of "Add All Excel Files In Folder" on raw path bytes: the walk below a folder,
// the files of one folder that match a pattern, and the rule for the files found. The window's
// folder procedures and the command-line extraction both walk through here.
namespace platform {

// Called after each folder's listing and before each of its entries; true stops the walk there.
using WalkTurn = std::function<bool()>;
// True for a subfolder name the caller cannot use, which is then neither added nor searched.
using SkipFolderName = std::function<bool(std::string_view name)>;

// A folder reached by several roads (links to siblings) is walked again, but at most this many
// times in one walk: folders joined by a few dozen such links would otherwise be walked
// millions of times.
constexpr int kMaxWalksPerFolder = 4;
// Entries a walk reads in all before it stops: far more than a real tree of workbooks holds.
constexpr std::size_t kMaxWalkEntries = 10'000'000;

// What one walk (of several start folders, maybe in several calls) may still do.
struct WalkBudget {
    std::size_t maxEntries = kMaxWalkEntries;
    std::size_t entries = 0;
    std::map<FileIdentity, int> walks;
    // The folder whose listing went past maxEntries: the walk stopped there. Empty while not.
    std::string stoppedAt;
};

// Appends to found every visible subfolder of every start folder (raw paths ending in "/"), and
// with recurse every deeper level too, level by level: the first-level subfolders grouped by
// parent in the starts' order, each group in listing order, then the second level, and so on.
// Hidden folders are neither added nor searched. A link back to the folder itself or to one
// above it is not followed, so the walk always ends; a folder reached by another road (a link
// to a sibling) is walked again, and a start given twice is walked twice, up to
// kMaxWalksPerFolder times. Returns false when a turn stopped the walk, or when the budget's
// entries ran out (budget->stoppedAt then names the folder); what was found until then is in
// found. Without a budget of the caller's, the call has one of its own.
bool walkSubfolders(const std::vector<std::string>& starts, bool recurse,
                    std::vector<std::string>& found, const SkipFolderName& skipName = {},
                    const WalkTurn& turn = {}, WalkBudget* budget = nullptr);

// The raw names of the files in the folder (ending in "/" or not) whose names match the wildcard
// pattern, in listing order: hidden and read-only files included, folders not. A name that is
// not valid UTF-8 is matched as the listing spells it, with "?" for its bad bytes.
std::vector<std::string> matchingFiles(const std::string& folder, const QString& pattern);

// The files a folder scan leaves out: exactly hidden + archive (a writable file whose name
// begins with "."); any other mix passes.
constexpr int kScanSkippedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;

// The scan's rule for one file it found: names beginning with "~" (a lock file an office
// program keeps beside an open workbook) and kScanSkippedAttributes stay out.
bool skippedByFolderScan(std::string_view name, int attributes);

// Whether a path handed in whole (dropped on the list, given on the command line) is walked as
// a folder: only one the directory listing would show. The listing never returns a hidden
// entry, so a hidden folder is taken as a plain path, as a file is.
bool walkedAsFolder(int attributes);

// The folder joined with a name by one "/": a folder that already ends in "/" (the root) gets
// no second one.
std::string joinPath(std::string_view folder, std::string_view name);

}  // namespace platform
