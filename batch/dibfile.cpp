#include "batch/dibfile.h"

#include <cstdint>

namespace batch {
namespace {

constexpr std::uint32_t kFileHeaderBytes = 14;
constexpr std::uint32_t kCoreHeaderBytes = 12;
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kBitFields = 3;

std::uint32_t read32(const QByteArray& b, int at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | std::uint8_t(b[at + i]);
    }
    return v;
}

std::uint16_t read16(const QByteArray& b, int at) {
    return std::uint16_t(std::uint8_t(b[at]) | (std::uint8_t(b[at + 1]) << 8));
}

void put32(QByteArray& b, int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = char(std::uint8_t(v >> (8 * i)));
    }
}

}  // namespace

std::optional<QByteArray> bmpFileFromDib(const QByteArray& dib) {
    if (dib.size() < qsizetype(kCoreHeaderBytes)) {
        return std::nullopt;
    }
    const std::uint32_t headerBytes = read32(dib, 0);
    if (headerBytes < kCoreHeaderBytes || headerBytes > std::uint32_t(dib.size()) ||
        (headerBytes != kCoreHeaderBytes && headerBytes < kInfoHeaderBytes)) {
        return std::nullopt;
    }
    const bool core = headerBytes == kCoreHeaderBytes;
    const std::uint16_t bitCount = read16(dib, core ? 10 : 14);
    const std::uint32_t compression = core ? 0 : read32(dib, 16);
    const std::uint32_t colorsUsed = core ? 0 : read32(dib, 32);
    // Palette entries: as many as used, or all that the bit depth can index.
    std::uint64_t colors = colorsUsed;
    if (colors == 0 && bitCount <= 8) {
        colors = std::uint64_t(1) << bitCount;
    }
    std::uint64_t offset = std::uint64_t(kFileHeaderBytes) + headerBytes + colors * (core ? 3 : 4);
    if (headerBytes == kInfoHeaderBytes && compression == kBitFields) {
        offset += 12;  // the three colour masks follow a 40-byte header
    }
    const std::uint64_t fileBytes = std::uint64_t(kFileHeaderBytes) + std::uint64_t(dib.size());
    if (offset > fileBytes || fileBytes > UINT32_MAX) {
        return std::nullopt;
    }
    QByteArray file(kFileHeaderBytes, '\0');
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, std::uint32_t(fileBytes));
    put32(file, 10, std::uint32_t(offset));
    return file + dib;
}

}  // namespace batch
