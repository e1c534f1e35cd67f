#pragma once

#include <cstddef>
#include <cstdint>

#include "workbook/limits.h"

namespace metafile {

// Bounds of the players; the picture-size limits they share with the engine stay there.
using workbook::kMaxBitmapSide;
using workbook::kMaxPicturePixels;
using workbook::kMaxPictureSide;
using workbook::kMetafileLeadingEscapeBytes;
using workbook::kMetafileSizeScanBytes;

// Records played from one metafile, and the time the playing may take; real metafiles hold
// tens of thousands of records and play in well under a second.
constexpr std::size_t kMaxMetafileRecords = 2'000'000;
constexpr int kMaxMetafilePlayMillis = 10'000;
// Graphics objects a metafile may define, nesting of saved drawing states, clip steps kept per
// state, and points of one path under construction.
constexpr std::size_t kMaxMetafileObjects = 65'536;
constexpr std::size_t kMaxMetafileSavedStates = 1024;
constexpr std::size_t kMaxMetafileClipSteps = 256;
// Rectangles a clipping region may hold, and the edge crossings of all rows that making one
// from a path may take (a path of thousands of self-crossing points across a large picture
// takes tens of millions).
constexpr std::size_t kMaxMetafileClipRects = 1'000'000;
constexpr std::size_t kMaxMetafileClipWork = 50'000'000;
// Points of a path filled by the canvas as it is; larger ones are turned into pixels first.
constexpr std::size_t kMaxCanvasFillPoints = 1024;
constexpr std::size_t kMaxMetafilePathPoints = 4'000'000;
// Characters of one text record that are drawn.
constexpr std::size_t kMaxMetafileTextChars = 32'768;
// QuickDraw pictures: the work of turning one picture's shapes into regions (rows and spans
// visited), the spans one region may keep, and the side of a colour pattern's tile. Real
// pictures stay far below them: a full-page oval costs a few thousand steps.
constexpr std::size_t kMaxPictRasterSteps = 100'000'000;
constexpr std::size_t kMaxPictRegionSpans = 250'000;
constexpr int kMaxPictPatternSide = 64;

// EMF+: the bytes of one object its records assemble (an image's, most often), the pixels a
// bitmap object may unpack to, the nodes of one region, and how deep metafiles drawn as images
// inside metafiles may nest.
constexpr std::size_t kMaxEmfPlusObjectBytes = 128u << 20;
constexpr std::int64_t kMaxEmfPlusBitmapPixels = 32'000'000;
constexpr std::size_t kMaxEmfPlusRegionNodes = 4096;
constexpr int kMaxMetafileNesting = 4;

}  // namespace metafile
