#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace workbook {

// The 16-bit METAFILEPICT that an older binary workbook keeps before a Windows metafile in an
// ImData record of clipboard format 2: the mapping mode and the picture's extent in it.
struct MetafilePict {
    int mapMode = 0;
    int xExt = 0;
    int yExt = 0;
};
constexpr std::size_t kMetafilePictBytes = 8;

std::optional<MetafilePict> readMetafilePict(const std::uint8_t* data, std::size_t size);

// Whether the bytes start with a Windows metafile's standard header ([MS-WMF] 2.3.2.2).
bool startsWithWmfHeader(const std::uint8_t* data, std::size_t size);

// The picture's size in 1/96 inch when its METAFILEPICT states one: the fixed mapping modes
// give it in their own units, the scalable ones (isotropic, anisotropic) in 0.01 mm when the
// extent is positive; a scalable picture with no extent or only an aspect states none.
struct MetafilePictSize {
    int units = 0;  // the extent's units per inch
    int width = 0;  // in those units
    int height = 0;
};
std::optional<MetafilePictSize> metafilePictSize(const MetafilePict& pict);

// A placeable header ([MS-WMF] 2.3.2.3) that has the metafile drawn at that size: its bounding
// box is the extent and its units per inch the extent's.
std::vector<std::uint8_t> placeableWmfHeader(const MetafilePictSize& size);

}  // namespace workbook
