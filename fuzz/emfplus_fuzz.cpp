// Feeds raw bytes to the EMF+ player as the records of one EMF+ comment, behind an EMF header
// and an EMF+ header written here, so the fuzzer spends its time on the records themselves:
// objects (whole and in pieces), state, clipping, drawing, images and metafiles inside them.
// Any crash, read out of bounds, runaway allocation or check that fails is a finding.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/checkingcanvas.h"
#include "metafile/metafile.h"
#include "workbook/limits.h"

namespace {

void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b.push_back(std::uint8_t(v >> (8 * i)));
    }
}

// An EMF of 100 x 100 pixels whose one comment holds an EMF+ header and then the input.
std::vector<std::uint8_t> emfAround(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> records;
    std::vector<std::uint8_t> plus = {'E', 'M', 'F', '+'};
    const std::uint32_t plusHeader[] = {0x00014001, 28, 16, 0xDBC01002, 1, 96, 96};
    for (std::uint32_t v : plusHeader) {
        put32(plus, v);
    }
    plus.insert(plus.end(), data, data + size);
    while (plus.size() % 4 != 0) {
        plus.push_back(0);
    }
    put32(records, 70);
    put32(records, std::uint32_t(12 + plus.size()));
    put32(records, std::uint32_t(plus.size()));
    records.insert(records.end(), plus.begin(), plus.end());
    const std::uint32_t eof[] = {14, 20, 0, 16, 20};
    std::vector<std::uint8_t> b;
    const std::uint32_t header[] = {1, 88, 0, 0, 99, 99, 0, 0, 2500, 2500, 0x464D4520, 0x10000};
    for (std::uint32_t v : header) {
        put32(b, v);
    }
    put32(b, std::uint32_t(88 + records.size() + sizeof eof));
    put32(b, 3);
    put32(b, 16);  // handles, reserved
    const std::uint32_t rest[] = {0, 0, 0, 1000, 1000, 250, 250};
    for (std::uint32_t v : rest) {
        put32(b, v);
    }
    b.insert(b.end(), records.begin(), records.end());
    for (std::uint32_t v : eof) {
        put32(b, v);
    }
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) {
        return 0;
    }
    const std::vector<std::uint8_t> emf = emfAround(data, size);
    const metafile::MetafileLayout layout =
        metafile::metafileLayout(workbook::ImageFormat::Emf, emf.data(), emf.size());
    fuzzcheck::check(layout.usable());
    fuzzcheck::CheckingCanvas canvas(emf.data(), emf.size());
    metafile::playMetafile(workbook::ImageFormat::Emf, emf.data(), emf.size(), layout, canvas);
    return 0;
}
