// The .xlsb record readers on raw parts: the first byte picks the scanner (bit 0: worksheet or
// workbook part) and the chunk size; the answer must not depend on how the part is cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "workbook/ooxml/xlsbparts.h"

namespace {

template <typename Scanner>
std::string answer(const std::uint8_t* data, std::size_t size, std::size_t chunk,
                   Scanner& scanner) {
    bool going = true;
    for (std::size_t at = 0; going && at < size; at += chunk) {
        going = scanner.feed(data + at, std::min(chunk, size - at));
    }
    if (going) {
        scanner.finish();
    }
    if (scanner.problem()) {
        if (scanner.problem()->place.empty()) {
            std::abort();
        }
        return "problem " + scanner.problem()->describe();
    }
    return "ok";
}

std::string worksheet(const std::uint8_t* data, std::size_t size, std::size_t chunk) {
    workbook::XlsbDrawingScanner scanner("sheet");
    std::string a = answer(data, size, chunk, scanner);
    return a + " " + scanner.drawingId().value_or("<none>");
}

std::string workbookPart(const std::uint8_t* data, std::size_t size, std::size_t chunk) {
    workbook::XlsbSheetListScanner scanner("workbook");
    std::string a = answer(data, size, chunk, scanner);
    for (const workbook::SheetEntry& s : scanner.sheets()) {
        a += " [" + s.name + "|" + s.relationshipId + "]";
    }
    return a + " skipped " + std::to_string(scanner.skipped().size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    bool isWorksheet = data[0] & 1;
    std::size_t chunk = 1 + (data[0] >> 1) % 17;
    auto read = isWorksheet ? worksheet : workbookPart;
    if (read(data + 1, size - 1, size) != read(data + 1, size - 1, chunk)) {
        std::abort();
    }
    return 0;
}
