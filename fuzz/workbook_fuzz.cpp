// Feeds raw bytes to the workbook engine: open, list every worksheet, picture and kept damage,
// copy each picture's bytes, those placed in cells too. Any crash, leak of bounds or runaway allocation is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "workbook/imageformat.h"
#include "workbook/workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(data, data + size);
    auto opened = workbook::openWorkbook(bytes);
    if (!opened) {
        return opened.problem().describe().empty() ? 1 : 0;
    }
    workbook::Workbook& book = *opened.value();
    for (const workbook::Problem& problem : book.problems()) {
        if (problem.describe().empty()) {
            return 1;
        }
    }
    const auto& sheets = book.worksheets();
    for (std::size_t s = 0; s < sheets.size(); ++s) {
        // The pictures placed in cells are read at the indexes after the floating ones.
        const std::size_t all = sheets[s].pictures.size() + sheets[s].cellPictures.size();
        for (std::size_t p = 0; p < all; ++p) {
            auto picture = book.readPictureBytes(s, p);
            if (picture) {
                workbook::sniffImage(picture.value().data(), picture.value().size());
            } else if (picture.problem().describe().empty()) {
                return 1;
            }
        }
    }
    // Out-of-range requests must be refused, not followed.
    (void)book.readPictureBytes(sheets.size(), 0);
    return 0;
}
