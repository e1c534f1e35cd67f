#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "batch/options.h"

namespace batch {

// One row of the manifest: a picture, or (number 0) a workbook that could not be opened or
// lost pictures to damage.
struct ManifestRow {
    std::string workbook;  // the path's bytes as given or found
    std::string worksheet;
    int number = 0;
    std::string cell;
    std::string format;
    int width = 0;  // 0: not known
    int height = 0;
    std::optional<std::uint64_t> bytes;
    std::string sha256;
    std::string output;   // the file written
    std::string skipped;  // or why not
};

// Writes the manifest row by row into a temporary file beside it, which replaces the manifest
// only when finished: memory stays flat however many rows, and a reader never sees half a table.
class ManifestWriter {
public:
    ManifestWriter(std::string path, ManifestFormat format);
    ~ManifestWriter();
    ManifestWriter(const ManifestWriter&) = delete;
    ManifestWriter& operator=(const ManifestWriter&) = delete;

    // "" when the temporary file is open, else why not.
    const std::string& error() const { return m_error; }
    void add(const ManifestRow& row);
    // Completes the table and puts it in place; "" or the reason it failed.
    std::string finish();

private:
    std::string m_path;
    std::string m_temporary;
    ManifestFormat m_format;
    std::FILE* m_file = nullptr;
    int m_slot = -1;  // the temporary's place among the live temporaries
    std::string m_error;
    bool m_first = true;
};

}  // namespace batch
