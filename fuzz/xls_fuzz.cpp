// Feeds raw bytes to the binary-workbook reader as a workbook stream (BIFF records): open, list
// every worksheet and picture, copy each picture. The OfficeArt readers also get the bytes
// as a drawing and as a drawing group. Any crash, read out of bounds, hang or runaway
// allocation is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "workbook/imageformat.h"
#include "workbook/xls/officeart.h"
#include "workbook/xls/xlsworkbook.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(data, data + size);
    auto opened =
        workbook::XlsWorkbook::openStream(std::make_unique<workbook::MemorySource>(bytes));
    if (opened) {
        workbook::Workbook& book = *opened.value();
        const auto& sheets = book.worksheets();
        for (std::size_t s = 0; s < sheets.size(); ++s) {
            for (std::size_t p = 0; p < sheets[s].pictures.size(); ++p) {
                auto picture = book.readPictureBytes(s, p);
                if (picture) {
                    workbook::sniffImage(picture.value().data(), picture.value().size());
                } else if (picture.problem().describe().empty()) {
                    return 1;
                }
            }
        }
    } else if (opened.problem().describe().empty()) {
        return 1;
    }
    (void)workbook::officeart::readDrawing(data, size);
    workbook::MemorySource group(bytes);
    (void)workbook::officeart::readBlipStore(group);
    return 0;
}
