#include "workbook/ooxml/xlsbparts.h"

#include "workbook/limits.h"
#include "workbook/ooxml/zipreader.h"

namespace workbook {
namespace {

// BrtBundleSh ([MS-XLSB] 2.4.313): hsState, iTabID, strRelID (nullable), strName. A beta
// writer put 8 bytes before iTabID instead of 4; read the standard way, its strings come out
// as garbage that does not end where the record does. So the standard layout is kept when its
// strings end exactly at the record's end, the older one when they do so and its iTabID is a
// sheet id; anything else is not a sheet entry the engine can trust.
std::optional<SheetEntry> bundleSheet(std::string_view data) {
    for (std::size_t tabIdAt : {std::size_t(4), std::size_t(8)}) {
        XlsbCursor cursor(data);
        cursor.skip(tabIdAt);
        std::uint32_t tabId = cursor.u32();
        std::optional<std::string> id = cursor.nullableWideString();
        std::string name = cursor.wideString();
        if (!cursor.atEnd() || (tabIdAt == 8 && (tabId < 1 || tabId > 65535))) {
            continue;
        }
        return SheetEntry{std::move(name), id.value_or(std::string())};
    }
    return std::nullopt;
}

// Streams the entry through a scanner with the feed/finish/problem shape.
template <typename Scanner>
std::optional<Problem> scanEntry(ZipReader& zip, std::uint64_t entry, std::uint64_t cap,
                                 Scanner& scanner) {
    bool stopped = false;
    auto problem =
        zip.stream(entry, cap, ZipReader::Budget::Open, [&](const char* data, std::size_t size) {
            stopped = !scanner.feed(reinterpret_cast<const std::uint8_t*>(data), size);
            return !stopped;
        });
    if (problem) {
        return problem;
    }
    if (!stopped) {
        scanner.finish();
    }
    return scanner.problem();
}

}  // namespace

XlsbSheetListScanner::XlsbSheetListScanner(std::string place)
    : m_records(std::move(place), {kBrtBundleSh}) {}

bool XlsbSheetListScanner::feed(const std::uint8_t* data, std::size_t size) {
    if (m_problem) {
        return false;
    }
    return m_records.feed(data, size, [this](const XlsbRecord& r) { return visit(r); });
}

const std::optional<Problem>& XlsbSheetListScanner::problem() const {
    return m_problem ? m_problem : m_records.problem();
}

bool XlsbSheetListScanner::visit(const XlsbRecord& record) {
    if (record.type == kBrtEndBundleShs) {
        return false;
    }
    if (record.type != kBrtBundleSh) {
        return true;
    }
    // Unreadable entries count too: each is kept as a problem.
    if (m_sheets.size() + m_skipped.size() >= kMaxXlsbSheetEntries) {
        m_problem = tooLarge(m_records.placeOf(record.number),
                             "more than " + std::to_string(kMaxXlsbSheetEntries) + " sheets");
        return false;
    }
    std::optional<SheetEntry> sheet;
    if (record.kept) {
        sheet = bundleSheet(record.data);
    }
    if (!sheet) {
        // One unreadable entry loses that sheet only, and says so.
        m_skipped.push_back(damaged(m_records.placeOf(record.number),
                                    "a sheet entry that cannot be read; the sheet is left out"));
        return true;
    }
    m_sheets.push_back(std::move(*sheet));
    return true;
}

XlsbDrawingScanner::XlsbDrawingScanner(std::string place)
    : m_records(std::move(place), {kBrtDrawing}) {}

bool XlsbDrawingScanner::feed(const std::uint8_t* data, std::size_t size) {
    if (m_problem || m_drawingId) {
        return false;
    }
    return m_records.feed(data, size, [this](const XlsbRecord& r) { return visit(r); });
}

const std::optional<Problem>& XlsbDrawingScanner::problem() const {
    return m_problem ? m_problem : m_records.problem();
}

bool XlsbDrawingScanner::visit(const XlsbRecord& record) {
    if (record.type == kBrtEndSheet) {
        return false;
    }
    if (record.type != kBrtDrawing) {
        return true;
    }
    // The first drawing is the sheet's; its data is the relationship id (XLWideString).
    XlsbCursor cursor(record.data);
    std::string id = cursor.wideString();
    if (!record.kept || !cursor.ok()) {
        m_problem = damaged(m_records.placeOf(record.number),
                            "the drawing's relationship id runs past the end of its record");
    } else {
        m_drawingId = std::move(id);
    }
    return false;
}

Result<std::vector<SheetEntry>> readXlsbSheetList(ZipReader& zip, std::uint64_t entry,
                                                  std::vector<Problem>& skipped) {
    XlsbSheetListScanner scanner(zip.name(entry));
    if (auto problem = scanEntry(zip, entry, kMaxXlsbWorkbookPartBytes, scanner)) {
        return *problem;
    }
    skipped.insert(skipped.end(), scanner.skipped().begin(), scanner.skipped().end());
    return scanner.sheets();
}

Result<std::string> readXlsbDrawingId(ZipReader& zip, std::uint64_t entry) {
    XlsbDrawingScanner scanner(zip.name(entry));
    if (auto problem = scanEntry(zip, entry, kMaxWorksheetPartBytes, scanner)) {
        return *problem;
    }
    return scanner.drawingId().value_or(std::string());
}

}  // namespace workbook
