#include "batch/batchlist.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <ostream>

#include "batch/pathtext.h"
#include "metafile/metafile.h"
#include "workbook/sha256.h"
#include "workbook/workbook.h"

namespace batch {
namespace {

struct PictureRow {
    int number = 0;
    const workbook::PictureInfo* info = nullptr;
    std::optional<std::uint64_t> bytes;
    std::string sha256;
    std::string problem;
};

struct SheetRows {
    std::string name;
    std::vector<PictureRow> pictures;
    std::size_t cellPictureCount = 0;
    std::vector<PictureRow> cellPictures;  // listed only when asked for
};

struct WorkbookRows {
    std::string path;
    std::string error;                  // empty when the workbook opened
    std::vector<std::string> problems;  // damage that lost some pictures of an opened workbook
    std::unique_ptr<workbook::Workbook> workbook;
    std::vector<SheetRows> sheets;
};

bool isInterrupted(const std::atomic<int>* signal) {
    return signal && signal->load() != 0;
}

// Opens one workbook and reads every embedded picture once, for its size and digest; only one
// image is held at a time, and pictures that share an image read it once. In-cell pictures
// follow each worksheet's floating ones, numbered on, when cellPictures. An interruption leaves
// the pictures not yet read without their digest.
WorkbookRows readWorkbook(const std::string& path, bool cellPictures,
                          const std::atomic<int>* signal) {
    WorkbookRows rows;
    rows.path = path;
    auto opened = workbook::openWorkbook(path, {.sniff = metafile::sniffDrawnImage});
    if (!opened) {
        rows.error = opened.problem().describe();
        return rows;
    }
    rows.workbook = std::move(opened.value());
    for (const workbook::Problem& problem : rows.workbook->problems()) {
        rows.problems.push_back(problem.describe());
    }
    const auto& sheets = rows.workbook->worksheets();
    std::map<std::uint64_t, std::pair<std::uint64_t, std::string>> digests;  // by image id
    int number = 0;
    for (std::size_t s = 0; s < sheets.size(); ++s) {
        SheetRows sheet{sheets[s].name, {}, sheets[s].cellPictures.size(), {}};
        const std::size_t floating = sheets[s].pictures.size();
        const std::size_t inCells = cellPictures ? sheet.cellPictureCount : 0;
        for (std::size_t p = 0; p < floating + inCells; ++p) {
            PictureRow row;
            row.number = ++number;
            row.info =
                p < floating ? &sheets[s].pictures[p] : &sheets[s].cellPictures[p - floating];
            const auto known = row.info->imageId ? digests.find(*row.info->imageId) : digests.end();
            if (known != digests.end()) {
                row.bytes = known->second.first;
                row.sha256 = known->second.second;
            } else if (!row.info->linked && !isInterrupted(signal)) {
                auto bytes = rows.workbook->readPictureBytes(s, p);
                if (bytes) {
                    row.bytes = bytes.value().size();
                    row.sha256 = workbook::Sha256::hex(bytes.value().data(), bytes.value().size());
                    if (row.info->imageId) {
                        digests[*row.info->imageId] = {*row.bytes, row.sha256};
                    }
                } else {
                    row.problem = bytes.problem().describe();
                }
            }
            (p < floating ? sheet.pictures : sheet.cellPictures).push_back(std::move(row));
        }
        rows.sheets.push_back(std::move(sheet));
    }
    return rows;
}

std::string jsonNumberOrNull(std::uint64_t value, bool known) {
    return known ? std::to_string(value) : "null";
}

void writeJsonPictures(const std::vector<PictureRow>& pictures, std::ostream& out) {
    out << "[";
    for (std::size_t p = 0; p < pictures.size(); ++p) {
        const PictureRow& row = pictures[p];
        const workbook::PictureInfo& info = *row.info;
        out << (p ? ",\n   " : "\n   ") << "{\"number\": " << row.number << ", \"format\": "
            << (info.linked ? "null" : jsonString(workbook::formatName(info.format)))
            << ", \"width\": " << jsonNumberOrNull(info.width, info.width > 0)
            << ", \"height\": " << jsonNumberOrNull(info.height, info.height > 0)
            << ", \"bytes\": " << jsonNumberOrNull(row.bytes.value_or(0), row.bytes.has_value())
            << ", \"sha256\": " << (row.sha256.empty() ? "null" : jsonString(row.sha256))
            << ", \"linked\": " << (info.linked ? "true" : "false")
            << ", \"cell\": " << (info.cell.empty() ? "null" : jsonString(info.cell)) << "}";
    }
    out << "]";
}

void writeJson(const WorkbookRows& rows, bool first, bool cellPictures, std::ostream& out) {
    out << (first ? "\n " : ",\n ") << "{\"workbook\": " << jsonString(rows.path)
        << ", \"error\": " << (rows.error.empty() ? "null" : jsonString(rows.error))
        << ", \"problems\": [";
    for (std::size_t i = 0; i < rows.problems.size(); ++i) {
        out << (i ? ", " : "") << jsonString(rows.problems[i]);
    }
    out << "], \"worksheets\": [";
    for (std::size_t s = 0; s < rows.sheets.size(); ++s) {
        const SheetRows& sheet = rows.sheets[s];
        out << (s ? ",\n  " : "\n  ") << "{\"name\": " << jsonString(sheet.name)
            << ", \"pictures\": ";
        writeJsonPictures(sheet.pictures, out);
        out << ", \"cell_picture_count\": " << sheet.cellPictureCount;
        if (cellPictures) {
            out << ", \"cell_pictures\": ";
            writeJsonPictures(sheet.cellPictures, out);
        }
        out << "}";
    }
    out << "]}";
}

// Names, links and problems come from the files: what a terminal would act on is escaped.
void writeTextPictures(const std::vector<PictureRow>& pictures, std::ostream& out) {
    for (const PictureRow& row : pictures) {
        const workbook::PictureInfo& info = *row.info;
        out << "    " << row.number << "  " << workbook::formatName(info.format) << "  ";
        if (info.width > 0 && info.height > 0) {
            out << info.width << "x" << info.height;
        } else {
            out << "?x?";
        }
        if (info.linked) {
            out << "  linked to " << displayText(info.link);
        } else if (row.bytes) {
            out << "  " << *row.bytes << " bytes  sha256 " << row.sha256;
        } else if (!row.problem.empty()) {
            out << "  unreadable: " << displayText(row.problem);
        } else {
            out << "  not read (interrupted)";
        }
        out << "  cell " << (info.cell.empty() ? "-" : displayText(info.cell)) << "\n";
    }
}

void writeText(const WorkbookRows& rows, std::ostream& out) {
    out << displayText(rows.path) << "\n";
    if (!rows.error.empty()) {
        out << "  error: " << displayText(rows.error) << "\n";
        return;
    }
    for (const std::string& problem : rows.problems) {
        out << "  problem: " << displayText(problem) << "\n";
    }
    for (const SheetRows& sheet : rows.sheets) {
        out << "  worksheet \"" << displayText(sheet.name) << "\": " << sheet.pictures.size()
            << (sheet.pictures.size() == 1 ? " picture" : " pictures");
        if (sheet.cellPictureCount > 0) {
            out << ", " << sheet.cellPictureCount << " in cells";
        }
        out << "\n";
        writeTextPictures(sheet.pictures, out);
        writeTextPictures(sheet.cellPictures, out);
    }
}

}  // namespace

int runList(const std::vector<std::string>& files, bool json, bool cellPictures, std::ostream& out,
            std::ostream& err, const std::atomic<int>* signal) {
    int status = kExitOk;
    bool first = true;
    if (json) {
        out << "[";
    }
    // Each workbook is listed as soon as it is read and closed before the next one opens, so
    // neither descriptors nor memory grow with the number of workbooks.
    for (const std::string& file : files) {
        if (isInterrupted(signal)) {
            break;
        }
        const WorkbookRows rows = readWorkbook(file, cellPictures, signal);
        const std::string shown = displayText(file);
        if (!rows.error.empty()) {
            err << shown << ": " << displayText(rows.error) << "\n";
            status = kExitFailed;
        }
        for (const std::string& problem : rows.problems) {
            err << shown << ": " << displayText(problem) << "\n";
            status = kExitFailed;
        }
        for (const SheetRows& sheet : rows.sheets) {
            for (const auto* pictures : {&sheet.pictures, &sheet.cellPictures}) {
                for (const PictureRow& row : *pictures) {
                    if (!row.problem.empty()) {
                        err << shown << ": picture " << row.number << ": "
                            << displayText(row.problem) << "\n";
                        status = kExitFailed;
                    }
                }
            }
        }
        if (json) {
            writeJson(rows, first, cellPictures, out);
        } else {
            writeText(rows, out);
        }
        first = false;
    }
    if (json) {
        out << (first ? "]\n" : "\n]\n");
    }
    out.flush();
    if (isInterrupted(signal)) {
        err << "quillfen-batch: interrupted\n";
        return 128 + signal->load();
    }
    return status;
}

}  // namespace batch
