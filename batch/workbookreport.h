#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "batch/extraction.h"

namespace batch {

class ManifestWriter;

// What became of one picture of a workbook.
struct PictureReport {
    std::string worksheet;
    int number = 0;
    std::string cell;
    std::string format;  // as stored; "" for a linked picture
    int width = 0;
    int height = 0;
    std::optional<std::uint64_t> bytes;
    std::string sha256;
    // The name it asks for: base name and extension; empty when it claims none (its bytes could
    // not be read, as the window's run has no row for it).
    QString baseName;
    QString extension;
    std::string outputPath;  // the path it was given
    bool written = false;
    std::optional<SkipKind> skip;  // why not written; none means interrupted
    // Why not; for a file that could not be written, the reason the write gave.
    std::string reason;
};

// What became of one workbook: its error, its damage and its pictures in order.
struct WorkbookReport {
    std::string path;   // as given or found
    std::string error;  // it did not open
    std::vector<std::string> problems;
    std::vector<PictureReport> pictures;
};

// Tells workbooks in input order: their "path: reason" lines, their manifest rows and their
// counts. The extraction and the merge of a cluster's parts both tell them here, so the two say
// the same.
class Reporter {
public:
    Reporter(Tally& tally, ManifestWriter* manifest, std::function<void(const std::string&)> line)
        : m_tally(tally), m_manifest(manifest), m_line(std::move(line)) {}

    void add(const WorkbookReport& workbook);

private:
    Tally& m_tally;
    ManifestWriter* m_manifest;
    std::function<void(const std::string&)> m_line;
};

}  // namespace batch
