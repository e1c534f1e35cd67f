#pragma once

// Whole zip archives as lists of entries, for the benchmarks that rewrite the generated set in
// another format.
#include <string>
#include <vector>

namespace bench {

struct ZipEntry {
    std::string name;
    std::string content;
    bool stored;  // written without compression
};

// Every entry of the archive in order; throws std::runtime_error when it cannot be opened.
std::vector<ZipEntry> readZipEntries(const std::string& path);
// Writes the entries in order; throws std::runtime_error when the archive cannot be written.
void writeZipEntries(const std::string& path, const std::vector<ZipEntry>& entries);

}  // namespace bench
