// Feeds raw bytes to the OpenDocument reader: as content.xml streaming past in chunks of a size
// the first byte chooses, whose tables and pictures must not depend on where the chunks fall;
// and as a flat document, opened, listed and every picture copied. Any crash, read out of
// bounds, hang or runaway allocation is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "workbook/imageformat.h"
#include "workbook/ods/contentscanner.h"
#include "workbook/ods/odsworkbook.h"

namespace {

std::string answer(const char* data, std::size_t size, std::size_t chunk) {
    workbook::ods::ContentScanner scanner("content.xml");
    workbook::ods::XmlStream xml("content.xml", scanner, workbook::ods::knownPrefixes());
    bool going = true;
    for (std::size_t at = 0; going && at < size; at += chunk) {
        going = xml.feed(data + at, std::min(chunk, size - at));
    }
    if (going) {
        xml.finish();
    }
    std::string text;
    for (const auto& problem : {scanner.problem(), xml.problem()}) {
        if (problem) {
            text += "problem " + problem->describe() + "\n";
        }
    }
    for (const auto& table : scanner.tables()) {
        text += "table " + table.name + "\n";
        for (const auto& picture : table.pictures) {
            text += " " + picture.name + " " + picture.cell + " " +
                    std::to_string(picture.images.size()) + "\n";
        }
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 17;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::string whole = answer(text, size - 1, size);
    const std::string pieces = answer(text, size - 1, chunk);
    // A tag that spans chunks may only differ in being too large, which depends on what is
    // pending; any other difference is a fault.
    if (whole != pieces && whole.find("too large") == std::string::npos &&
        pieces.find("too large") == std::string::npos) {
        std::abort();
    }

    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(data + 1, data + size);
    auto opened = workbook::OdsWorkbook::openFlat(std::make_unique<workbook::MemorySource>(bytes));
    if (!opened) {
        return opened.problem().describe().empty() ? 1 : 0;
    }
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
    return 0;
}
