#include "workbook/dib.h"

#include <algorithm>

namespace workbook {
namespace {

std::uint16_t le16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}
std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kAlphaBitFields = 6;
constexpr std::int64_t kMaxSide = 1 << 20;
constexpr std::size_t kFileHeaderBytes = 14;

bool knownDepth(std::uint16_t bits) {
    return bits == 0 || bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 ||
           bits == 32;
}

}  // namespace

std::optional<DibHeader> dibHeader(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < 12) {
        return std::nullopt;
    }
    std::uint32_t headerBytes = le32(data);
    std::int64_t width = 0, height = 0;
    std::uint16_t bits = 0;
    std::uint64_t palette = 0;
    if (headerBytes == 12) {
        // BITMAPCOREHEADER: 16-bit sizes, 3-byte colour entries, always a full table.
        width = le16(data + 4);
        height = le16(data + 6);
        bits = le16(data + 10);
        palette = bits <= 8 ? 3ull << bits : 0;
    } else if (headerBytes >= 40 && headerBytes <= 124 && size >= 40) {
        width = std::int32_t(le32(data + 4));
        height = std::int32_t(le32(data + 8));
        bits = le16(data + 14);
        std::uint32_t compression = le32(data + 16);
        std::uint64_t used = le32(data + 32);
        palette = 4 * (used != 0 ? used : bits <= 8 ? 1ull << bits : 0);
        // A plain info header keeps its masks after it; the larger headers hold them inside.
        if (headerBytes == 40 && compression == kBitFields) {
            palette += 12;
        } else if (headerBytes == 40 && compression == kAlphaBitFields) {
            palette += 16;
        }
    } else {
        return std::nullopt;
    }
    height = height < 0 ? -height : height;
    std::uint64_t offset = headerBytes + palette;
    if (width <= 0 || height == 0 || width > kMaxSide || height > kMaxSide || !knownDepth(bits) ||
        offset > size) {
        return std::nullopt;
    }
    return DibHeader{int(width), int(height), std::uint32_t(offset)};
}

std::vector<std::uint8_t> bmpFileFromDib(const std::uint8_t* data, std::size_t size) {
    auto header = dibHeader(data, size);
    if (!header || size > 0xFFFFFFFFu - kFileHeaderBytes) {
        return {};
    }
    std::vector<std::uint8_t> file(kFileHeaderBytes + size);
    auto put32 = [&file](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            file[at + i] = std::uint8_t(v >> (8 * i));
        }
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, std::uint32_t(file.size()));
    put32(10, std::uint32_t(kFileHeaderBytes + header->pixelOffset));
    std::copy(data, data + size, file.begin() + kFileHeaderBytes);
    return file;
}

}  // namespace workbook
