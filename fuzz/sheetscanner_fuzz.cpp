// The worksheet scanner must give the same answer however the part is cut into chunks, the
// cells it notes for in-cell pictures included.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "workbook/ooxml/sheetscanner.h"

namespace {

std::string answer(const char* data, std::size_t size, std::size_t chunk) {
    workbook::SheetScanner scanner("sheet");
    // Value metadata 1 and 3 are images; DISPIMG formulas are looked for.
    static const std::vector<bool> kImages = {false, true, false, true};
    scanner.collectCells(&kImages, true);
    bool going = true;
    for (std::size_t at = 0; going && at < size; at += chunk) {
        going = scanner.feed(data + at, std::min(chunk, size - at));
    }
    if (going) {
        scanner.finish();
    }
    if (scanner.problem()) {
        return "problem " + scanner.problem()->describe();
    }
    if (scanner.needsTree()) {
        return "tree";
    }
    std::string text = "id " + scanner.drawingId().value_or("<none>");
    for (const auto& cell : scanner.cells()) {
        text += " " + std::to_string(cell.row) + ":" + std::to_string(cell.column) + ":" +
                std::to_string(cell.valueMetadata) + ":" + cell.dispimgId;
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    std::size_t chunk = 1 + data[0] % 17;
    const char* text = reinterpret_cast<const char*>(data + 1);
    std::string whole = answer(text, size - 1, size);
    std::string pieces = answer(text, size - 1, chunk);
    // A part cut so that an item spans chunks may only differ in being too large, which
    // depends on what is pending; any other difference is a fault.
    if (whole != pieces && whole.find("too large") == std::string::npos &&
        pieces.find("too large") == std::string::npos) {
        std::abort();
    }
    return 0;
}
