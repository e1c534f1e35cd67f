#include "workbook/bitmapinfo.h"

#include <algorithm>

#include "workbook/boundedcursor.h"
#include "workbook/limits.h"

namespace workbook {
namespace {

constexpr std::uint32_t kCoreHeaderBytes = 12;
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kLargestHeaderBytes = 124;  // BITMAPV5HEADER
constexpr std::size_t kFileHeaderBytes = 14;

bool depthFits(int bits, std::uint32_t compression) {
    switch (compression) {
        case BitmapInfo::kRgb:
            return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
        case BitmapInfo::kRle8:
            return bits == 8;
        case BitmapInfo::kRle4:
            return bits == 4;
        case BitmapInfo::kBitFields:
        case BitmapInfo::kAlphaBitFields:
            return bits == 16 || bits == 32;
        case BitmapInfo::kJpeg:
        case BitmapInfo::kPng:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::optional<BitmapInfo> readBitmapInfo(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr) {
        return std::nullopt;
    }
    BoundedCursor c(data, size);
    BitmapInfo info;
    const std::uint32_t headerSize = c.u32le();
    std::uint64_t colours = 0;
    std::uint64_t entryBytes = 4;
    std::int64_t height = 0;
    if (headerSize == kCoreHeaderBytes) {
        info.width = c.u16le();
        height = c.u16le();
        c.u16le();  // planes
        info.bitCount = c.u16le();
        entryBytes = 3;
        colours = info.bitCount <= 8 ? 1u << info.bitCount : 0;
    } else if (headerSize >= kInfoHeaderBytes && headerSize <= kLargestHeaderBytes) {
        const std::int32_t width = c.i32le();
        height = c.i32le();
        c.u16le();  // planes
        info.bitCount = c.u16le();
        info.compression = c.u32le();
        c.skip(12);  // image size and resolution
        const std::uint32_t used = c.u32le();
        if (width <= 0 || width > kMaxBitmapSide) {
            return std::nullopt;
        }
        info.width = width;
        // A colour table longer than the depth can index is allowed but pointless; a huge one
        // is a lie, and the caller would only find out once it had read past the record.
        if (used > (1u << 16)) {
            return std::nullopt;
        }
        colours = used != 0                                  ? used
                  : info.bitCount >= 1 && info.bitCount <= 8 ? 1u << info.bitCount
                                                             : 0;
    } else {
        return std::nullopt;
    }
    if (c.failed() || !depthFits(info.bitCount, info.compression)) {
        return std::nullopt;
    }
    if (height < 0) {
        // Compressed rows always run from the bottom up.
        if (info.compression == BitmapInfo::kRle8 || info.compression == BitmapInfo::kRle4) {
            return std::nullopt;
        }
        info.topDown = true;
        height = -height;
    }
    if (info.width <= 0 || height <= 0 || height > kMaxBitmapSide) {
        return std::nullopt;
    }
    info.height = int(height);
    std::uint64_t masks = 0;
    if (headerSize == kInfoHeaderBytes && info.compression == BitmapInfo::kBitFields) {
        masks = 12;
    } else if (headerSize == kInfoHeaderBytes && info.compression == BitmapInfo::kAlphaBitFields) {
        masks = 16;
    }
    info.headerBytes = std::uint32_t(headerSize + colours * entryBytes + masks);
    if (info.compression == BitmapInfo::kRgb || info.compression == BitmapInfo::kBitFields ||
        info.compression == BitmapInfo::kAlphaBitFields) {
        const std::uint64_t stride = (std::uint64_t(info.width) * info.bitCount + 31) / 32 * 4;
        info.pixelBytes = stride * std::uint64_t(info.height);
    }
    return info;
}

std::vector<std::uint8_t> bitmapFile(const std::uint8_t* header, std::size_t headerSize,
                                     const std::uint8_t* pixels, std::size_t pixelSize) {
    auto info = readBitmapInfo(header, headerSize);
    if (!info || info->headerBytes > headerSize ||
        std::uint64_t(kFileHeaderBytes) + info->headerBytes + pixelSize > 0xFFFFFFFFu) {
        return {};
    }
    std::vector<std::uint8_t> file(kFileHeaderBytes + info->headerBytes + pixelSize);
    auto put32 = [&file](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            file[at + i] = std::uint8_t(v >> (8 * i));
        }
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, std::uint32_t(file.size()));
    put32(10, std::uint32_t(kFileHeaderBytes + info->headerBytes));
    std::copy(header, header + info->headerBytes, file.begin() + kFileHeaderBytes);
    if (pixelSize != 0) {
        std::copy(pixels, pixels + pixelSize, file.begin() + kFileHeaderBytes + info->headerBytes);
    }
    return file;
}

std::vector<std::uint8_t> bmpFileFromDib(const std::uint8_t* data, std::size_t size) {
    auto info = readBitmapInfo(data, size);
    if (!info || info->headerBytes > size) {
        return {};
    }
    return bitmapFile(data, info->headerBytes, data + info->headerBytes, size - info->headerBytes);
}

}  // namespace workbook
