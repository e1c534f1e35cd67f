#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace batch {

// The paths of a list read from standard input: separated by NUL characters when the text holds
// one (find -print0), else one per line (a line's closing carriage return dropped). Empty
// entries are left out.
std::vector<std::string> splitPathList(std::string_view text);

// The workbooks the paths name, in order. A folder is walked as the window's "Add All Excel
// Files In Folder" walks it with the extension "xl*", and then "ods": every depth, level by
// level, hidden folders left out, each folder's "*.xl*" files and then its "*.ods" files in
// listing order without the ones the scan skips ("~" names, hidden + archive files). Anything
// else, a hidden folder too, is taken as a workbook as given. The walk is bounded
// (platform::WalkBudget, one for all the paths): past its entries it stops, and walkStoppedAt
// names the folder where; interrupted() stops it too. Either way the workbooks found until
// then are returned.
std::vector<std::string> workbookPaths(const std::vector<std::string>& paths,
                                       const std::function<bool()>& interrupted = {},
                                       std::string* walkStoppedAt = nullptr);

}  // namespace batch
