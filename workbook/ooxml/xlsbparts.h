#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workbook/ooxml/xlsbrecords.h"
#include "workbook/problem.h"

namespace workbook {

class ZipReader;

// One entry of a workbook's sheet list, of any sheet kind: the kind is told by the type of the
// relationship the id names.
struct SheetEntry {
    std::string name;
    std::string relationshipId;  // empty when the entry names none
};

// Reads the sheet list of a binary workbook part (xl/workbook.bin) as it streams past: one
// BrtBundleSh per sheet, in workbook order, up to BrtEndBundleShs.
class XlsbSheetListScanner {
public:
    explicit XlsbSheetListScanner(std::string place);

    // Takes the next bytes; false once the list is complete or a problem was found.
    bool feed(const std::uint8_t* data, std::size_t size);
    // To be called at the end of the part, unless feed returned false.
    void finish() { m_records.finish(); }

    const std::optional<Problem>& problem() const;
    const std::vector<SheetEntry>& sheets() const { return m_sheets; }
    // Sheet entries that could not be read and were left out, each with its place.
    const std::vector<Problem>& skipped() const { return m_skipped; }

private:
    bool visit(const XlsbRecord& record);

    XlsbRecordReader m_records;
    std::vector<SheetEntry> m_sheets;
    std::vector<Problem> m_skipped;
    std::optional<Problem> m_problem;
};

// Finds the BrtDrawing record of a binary worksheet part as it streams past: the relationship
// id of the sheet's drawing part, which is DrawingML XML as in any other package.
class XlsbDrawingScanner {
public:
    explicit XlsbDrawingScanner(std::string place);

    // Takes the next bytes; false once the answer is known or a problem was found.
    bool feed(const std::uint8_t* data, std::size_t size);
    // To be called at the end of the part, unless feed returned false.
    void finish() { m_records.finish(); }

    const std::optional<Problem>& problem() const;
    // The relationship id of the first drawing, when the worksheet has one.
    const std::optional<std::string>& drawingId() const { return m_drawingId; }

private:
    bool visit(const XlsbRecord& record);

    XlsbRecordReader m_records;
    std::optional<std::string> m_drawingId;
    std::optional<Problem> m_problem;
};

// The sheet list of the binary workbook part in that zip entry; entries that cannot be read
// are left out and added to skipped.
Result<std::vector<SheetEntry>> readXlsbSheetList(ZipReader& zip, std::uint64_t entry,
                                                  std::vector<Problem>& skipped);
// The relationship id of the drawing of the binary worksheet part in that entry; "" for none.
Result<std::string> readXlsbDrawingId(ZipReader& zip, std::uint64_t entry);

}  // namespace workbook
