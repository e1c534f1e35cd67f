#include "workbook/xls/metafilepict.h"

#include <cstdlib>

#include "workbook/xls/biffrecords.h"

namespace workbook {
namespace {

constexpr int kMmText = 1;
constexpr int kMmTwips = 6;
constexpr int kMmIsotropic = 7;
constexpr int kMmAnisotropic = 8;
constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7u;

// Logical units per inch of the fixed mapping modes, MM_TEXT's pixels on a 96 dpi screen.
int unitsPerInch(int mapMode) {
    constexpr int kUnits[] = {96, 254, 2540, 100, 1000, 1440};
    return mapMode >= kMmText && mapMode <= kMmTwips ? kUnits[mapMode - kMmText] : 0;
}

void add16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}

}  // namespace

std::optional<MetafilePict> readMetafilePict(const std::uint8_t* data, std::size_t size) {
    if (size < kMetafilePictBytes) {
        return std::nullopt;
    }
    return MetafilePict{std::int16_t(biff::le16(data)), std::int16_t(biff::le16(data + 2)),
                        std::int16_t(biff::le16(data + 4))};
}

bool startsWithWmfHeader(const std::uint8_t* data, std::size_t size) {
    if (size < 18) {
        return false;
    }
    std::uint16_t type = biff::le16(data);
    std::uint16_t version = biff::le16(data + 4);
    return (type == 1 || type == 2) && biff::le16(data + 2) == 9 &&
           (version == 0x0100 || version == 0x0300);
}

std::optional<MetafilePictSize> metafilePictSize(const MetafilePict& pict) {
    int units = unitsPerInch(pict.mapMode);
    int width = std::abs(pict.xExt), height = std::abs(pict.yExt);
    if (pict.mapMode == kMmIsotropic || pict.mapMode == kMmAnisotropic) {
        // Negative extents give only an aspect; zero, no size at all.
        if (pict.xExt <= 0 || pict.yExt <= 0) {
            return std::nullopt;
        }
        units = unitsPerInch(3);  // MM_HIMETRIC
    }
    if (units == 0 || width == 0 || height == 0) {
        return std::nullopt;
    }
    return MetafilePictSize{units, width, height};
}

std::vector<std::uint8_t> placeableWmfHeader(const MetafilePictSize& size) {
    std::vector<std::uint8_t> b;
    add16(b, std::uint16_t(kPlaceableKey));
    add16(b, std::uint16_t(kPlaceableKey >> 16));
    add16(b, 0);  // HWmf
    for (int v : {0, 0, size.width, size.height}) {
        add16(b, std::uint16_t(v));  // the bounding box: left, top, right, bottom
    }
    add16(b, std::uint16_t(size.units));
    add16(b, 0);  // reserved
    add16(b, 0);
    std::uint16_t checksum = 0;
    for (std::size_t i = 0; i < b.size(); i += 2) {
        checksum ^= biff::le16(b.data() + i);
    }
    add16(b, checksum);
    return b;
}

}  // namespace workbook
