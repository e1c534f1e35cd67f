// The records of a Windows metafile ([MS-WMF] 2.3), read into the GDI player.
#include "metafile/limits.h"
#include "metafile/metafilereaders.h"
#include "workbook/bitmapinfo.h"
#include "workbook/boundedcursor.h"

namespace metafile {

using workbook::BitmapInfo;
using workbook::BoundedCursor;
using workbook::readBitmapInfo;

namespace {

constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr std::size_t kPlaceableBytes = 22;
constexpr std::size_t kHeaderWords = 9;

enum Meta : std::uint16_t {
    kEof = 0x0000,
    kSaveDc = 0x001E,
    kCreatePalette = 0x00F7,
    kSetBkMode = 0x0102,
    kSetMapMode = 0x0103,
    kSetRop2 = 0x0104,
    kSetPolyFillMode = 0x0106,
    kSetTextCharExtra = 0x0108,
    kRestoreDc = 0x0127,
    kPaintRegion = 0x012B,
    kSelectClipRegion = 0x012C,
    kSelectObject = 0x012D,
    kSetTextAlign = 0x012E,
    kSelectPalette = 0x0234,
    kDibCreatePatternBrush = 0x0142,
    kDeleteObject = 0x01F0,
    kCreatePatternBrush = 0x01F9,
    kSetBkColor = 0x0201,
    kSetTextColor = 0x0209,
    kSetWindowOrg = 0x020B,
    kSetWindowExt = 0x020C,
    kSetViewportOrg = 0x020D,
    kSetViewportExt = 0x020E,
    kOffsetWindowOrg = 0x020F,
    kOffsetViewportOrg = 0x0211,
    kLineTo = 0x0213,
    kMoveTo = 0x0214,
    kOffsetClipRgn = 0x0220,
    kFillRegion = 0x0228,
    kCreatePenIndirect = 0x02FA,
    kCreateFontIndirect = 0x02FB,
    kCreateBrushIndirect = 0x02FC,
    kPolygon = 0x0324,
    kPolyline = 0x0325,
    kScaleWindowExt = 0x0410,
    kScaleViewportExt = 0x0412,
    kExcludeClipRect = 0x0415,
    kIntersectClipRect = 0x0416,
    kEllipse = 0x0418,
    kRectangle = 0x041B,
    kSetPixel = 0x041F,
    kFrameRegion = 0x0429,
    kTextOut = 0x0521,
    kPolyPolygon = 0x0538,
    kRoundRect = 0x061C,
    kPatBlt = 0x061D,
    kCreateRegion = 0x06FF,
    kArc = 0x0817,
    kPie = 0x081A,
    kChord = 0x0830,
    kBitBlt = 0x0922,
    kDibBitBlt = 0x0940,
    kExtTextOut = 0x0A32,
    kStretchBlt = 0x0B23,
    kDibStretchBlt = 0x0B41,
    kSetDibToDev = 0x0D33,
    kStretchDib = 0x0F43,
};

struct Record {
    const std::uint8_t* base;
    std::size_t available;  // bytes present, header included
    std::size_t declared;
    std::uint16_t function;
    BoundedCursor params() const { return BoundedCursor(base + 6, available - 6); }
};

// The four coordinates as WMF records keep them: bottom, right, top, left.
RectL readReversedRect(BoundedCursor& c) {
    RectL r;
    r.bottom = c.i16le();
    r.right = c.i16le();
    r.top = c.i16le();
    r.left = c.i16le();
    return r;
}

std::optional<std::vector<PointF>> readPoints(BoundedCursor& c, std::size_t count) {
    if (count > c.remaining() / 4) {
        return std::nullopt;
    }
    std::vector<PointF> points;
    points.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double x = c.i16le();
        points.push_back({x, double(c.i16le())});
    }
    return points;
}

// [MS-WMF] 2.2.1.5: scans of rectangles, each scan a band of rows with pairs of x edges.
std::optional<gdi::Region> readRegion(BoundedCursor& c) {
    c.skip(2 + 2 + 4 + 2);  // next in chain, object type, object count, region size
    const std::uint16_t scans = c.u16le();
    c.skip(2 + 8);  // largest scan, bounds
    if (c.failed()) {
        return std::nullopt;
    }
    gdi::Region region;
    for (std::uint16_t i = 0; i < scans && !c.failed(); ++i) {
        const std::uint16_t count = c.u16le();
        const double top = c.i16le(), bottom = c.i16le();
        if (count % 2 != 0 || count > c.remaining() / 2) {
            return std::nullopt;
        }
        for (std::uint16_t k = 0; k < count; k += 2) {
            const double left = c.i16le(), right = c.i16le();
            region.rects.push_back({left, top, right, bottom});
        }
        c.u16le();  // the count again
    }
    if (c.failed()) {
        return std::nullopt;
    }
    return region;
}

class WmfReader {
public:
    WmfReader(GdiPlayer& player, ReadMode mode) : m_player(player), m_mode(mode) {}
    void read(const Record& rec);

private:
    void dibBlt(const Record& rec);
    void textOut(BoundedCursor& c);
    void extTextOut(BoundedCursor& c, const Record& rec);
    bool dibAt(const Record& rec, std::size_t offset, BitmapDraw& draw, BitmapInfo& info) const;
    std::optional<gdi::Brush> patternBrush(const Record& rec, BoundedCursor c) const;

    GdiPlayer& m_player;
    ReadMode m_mode;
};

// The DIB that fills the rest of a bitmap record from offset on.
bool WmfReader::dibAt(const Record& rec, std::size_t offset, BitmapDraw& draw,
                      BitmapInfo& info) const {
    if (offset >= rec.available) {
        return false;
    }
    auto header = readBitmapInfo(rec.base + offset, rec.available - offset);
    if (!header || header->headerBytes > rec.available - offset) {
        return false;
    }
    const std::size_t bitsAt = offset + header->headerBytes;
    if (m_mode == ReadMode::Play &&
        (bitsAt > rec.available || rec.available - bitsAt < header->pixelBytes)) {
        return false;
    }
    info = *header;
    draw.header = rec.base + offset;
    draw.headerSize = header->headerBytes;
    draw.bits = m_mode == ReadMode::Play ? rec.base + bitsAt : nullptr;
    draw.bitsSize = m_mode == ReadMode::Play ? rec.available - bitsAt : 0;
    return true;
}

// META_CREATEPATTERNBRUSH keeps a device bitmap (a Bitmap16, its bits after 18 reserved
// bytes), of which only monochrome ones mean the same on every device;
// META_DIBCREATEPATTERNBRUSH a DIB, monochrome when its style is BS_PATTERN.
std::optional<gdi::Brush> WmfReader::patternBrush(const Record& rec, BoundedCursor c) const {
    constexpr int kBsPattern = 3;
    if (rec.function == kCreatePatternBrush) {
        c.u16le();  // type
        const int width = c.i16le(), height = c.i16le();
        const std::size_t stride = c.u16le();
        const int planes = c.u8(), bitsPixel = c.u8();
        constexpr std::size_t kBitsAt = 6 + 14 + 18;
        if (c.failed() || planes != 1 || bitsPixel != 1 || kBitsAt > rec.available) {
            return std::nullopt;
        }
        return gdi::monoPatternBrush(width, height, stride, true, rec.base + kBitsAt,
                                     rec.available - kBitsAt);
    }
    const int style = c.u16le();
    BitmapDraw draw;
    BitmapInfo info;
    if (!dibAt(rec, 6 + 4, draw, info)) {
        return std::nullopt;
    }
    if (style == kBsPattern && info.bitCount == 1) {
        if (auto mono = gdi::monoPatternBrushOfDib(draw.header, draw.headerSize, draw.bits,
                                                   draw.bitsSize)) {
            return mono;
        }
    }
    return gdi::patternBrush(draw.header, draw.headerSize, draw.bits, draw.bitsSize);
}

void WmfReader::dibBlt(const Record& rec) {
    BoundedCursor c = rec.params();
    const std::uint32_t rop = c.u32le();
    // A record exactly as long as its parameters holds no bitmap: a pattern operation.
    const bool noBitmap = rec.declared == std::size_t(((rec.function >> 8) + 3) * 2);
    std::int32_t srcH = 0, srcW = 0, ySrc = 0, xSrc = 0, destH = 0, destW = 0, yDest = 0, xDest = 0;
    bool yFromBottom = false;
    switch (rec.function) {
        case kStretchDib:
            c.u16le();  // colour usage
            yFromBottom = true;
            [[fallthrough]];
        case kDibStretchBlt:
        case kStretchBlt:
            srcH = c.i16le();
            srcW = c.i16le();
            ySrc = c.i16le();
            xSrc = c.i16le();
            if (noBitmap) {
                c.u16le();
            }
            destH = c.i16le();
            destW = c.i16le();
            yDest = c.i16le();
            xDest = c.i16le();
            break;
        default:  // DIBBITBLT, BITBLT
            ySrc = c.i16le();
            xSrc = c.i16le();
            if (noBitmap) {
                c.u16le();
            }
            destH = srcH = c.i16le();
            destW = srcW = c.i16le();
            yDest = c.i16le();
            xDest = c.i16le();
            break;
    }
    if (c.failed()) {
        return;
    }
    const RectL dest{double(xDest), double(yDest), double(xDest) + destW, double(yDest) + destH};
    if (noBitmap) {
        m_player.patBlt(dest, rop);
        return;
    }
    // BITBLT and STRETCHBLT carry a device-dependent bitmap, which no writer of the last
    // thirty years has used; they are not drawn.
    if (rec.function == kBitBlt || rec.function == kStretchBlt) {
        return;
    }
    BitmapDraw draw;
    BitmapInfo info;
    if (!dibAt(rec, c.position() + 6, draw, info)) {
        return;
    }
    if (!gdi::setBitmapSource(draw, info, xSrc, ySrc, srcW, srcH, yFromBottom)) {
        return;
    }
    m_player.bitmap(draw, dest, rop);
}

void WmfReader::textOut(BoundedCursor& c) {
    const std::uint16_t length = c.u16le();
    if (length > c.remaining()) {
        return;
    }
    GdiPlayer::Text text;
    text.narrow.assign(reinterpret_cast<const char*>(c.here()), length);
    c.skip(length + (length & 1u));
    const double y = c.i16le(), x = c.i16le();
    if (c.failed()) {
        return;
    }
    text.reference = {x, y};
    m_player.text(text);
}

void WmfReader::extTextOut(BoundedCursor& c, const Record& rec) {
    constexpr int kEtoOpaque = 0x2, kEtoClipped = 0x4;
    GdiPlayer::Text text;
    const double y = c.i16le(), x = c.i16le();
    const std::uint16_t length = c.u16le();
    text.options = c.u16le();
    text.reference = {x, y};
    // The rectangle is present only with the options that use it, and some writers leave it
    // out even then; the record's length tells.
    const std::size_t withoutRect = 6 + 8 + length + (length & 1u);
    if ((text.options & (kEtoOpaque | kEtoClipped)) != 0 && rec.declared >= withoutRect + 8) {
        RectL r;
        r.left = c.i16le();
        r.top = c.i16le();
        r.right = c.i16le();
        r.bottom = c.i16le();
        text.rect = r;
    }
    if (c.failed() || length > c.remaining()) {
        return;
    }
    text.narrow.assign(reinterpret_cast<const char*>(c.here()), length);
    c.skip(length + (length & 1u));
    if (c.remaining() >= std::size_t(length) * 2) {
        text.dx.reserve(length);
        for (std::uint16_t i = 0; i < length; ++i) {
            text.dx.push_back(c.i16le());
        }
    }
    m_player.text(text);
}

void WmfReader::read(const Record& rec) {
    BoundedCursor c = rec.params();
    switch (rec.function) {
        case kSaveDc:
            m_player.saveDc();
            break;
        case kRestoreDc:
            m_player.restoreDc(c.i16le());
            break;
        case kSetBkMode:
            m_player.setBkMode(c.u16le());
            break;
        case kSetMapMode:
            m_player.setMapMode(c.u16le());
            break;
        case kSetRop2:
            m_player.setRop2(c.u16le());
            break;
        case kSetPolyFillMode:
            m_player.setPolyFillMode(c.u16le());
            break;
        case kSetTextAlign:
            m_player.setTextAlign(c.u16le());
            break;
        case kSetTextCharExtra:
            m_player.setTextCharExtra(c.i16le());
            break;
        case kSetBkColor:
            m_player.setBkColour(gdi::readColorRef(c));
            break;
        case kSetTextColor:
            m_player.setTextColour(gdi::readColorRef(c));
            break;
        case kSetWindowOrg:
        case kSetWindowExt:
        case kSetViewportOrg:
        case kSetViewportExt:
        case kOffsetWindowOrg:
        case kOffsetViewportOrg:
        case kLineTo:
        case kMoveTo:
        case kOffsetClipRgn: {
            const double y = c.i16le(), x = c.i16le();
            if (c.failed()) {
                break;
            }
            switch (rec.function) {
                case kSetWindowOrg:
                    m_player.setWindowOrg(x, y);
                    break;
                case kSetWindowExt:
                    m_player.setWindowExt(x, y);
                    break;
                case kSetViewportOrg:
                    m_player.setViewportOrg(x, y);
                    break;
                case kSetViewportExt:
                    m_player.setViewportExt(x, y);
                    break;
                case kOffsetWindowOrg:
                    m_player.offsetWindowOrg(x, y);
                    break;
                case kOffsetViewportOrg:
                    m_player.offsetViewportOrg(x, y);
                    break;
                case kLineTo:
                    m_player.lineTo({x, y});
                    break;
                case kMoveTo:
                    m_player.moveTo({x, y});
                    break;
                default:
                    m_player.offsetClip(x, y);
                    break;
            }
            break;
        }
        case kScaleWindowExt:
        case kScaleViewportExt: {
            const double yDenom = c.i16le(), yNum = c.i16le(), xDenom = c.i16le(), xNum = c.i16le();
            if (c.failed()) {
                break;
            }
            if (rec.function == kScaleWindowExt) {
                m_player.scaleWindowExt(xNum, xDenom, yNum, yDenom);
            } else {
                m_player.scaleViewportExt(xNum, xDenom, yNum, yDenom);
            }
            break;
        }
        case kSelectObject:
            m_player.selectObject(c.u16le());
            break;
        case kSelectPalette:
            m_player.selectPalette(c.u16le());
            break;
        case kDeleteObject:
            m_player.deleteObject(c.u16le());
            break;
        case kSelectClipRegion: {
            const gdi::Object* o = m_player.object(c.u16le());
            m_player.selectClipRegion(
                o != nullptr && o->kind == gdi::Object::Kind::Region ? o->region.get() : nullptr, 5,
                false);
            break;
        }
        case kCreatePalette:
            c.u16le();  // start
            m_player.addObject(gdi::paletteObject(gdi::readPaletteEntries(c)));
            break;
        case kCreatePenIndirect:
            m_player.addObject(gdi::penObject(gdi::readLogPen(c, gdi::Fields::Sixteen)));
            break;
        case kCreateBrushIndirect:
            m_player.addObject(gdi::brushObject(gdi::readLogBrush(c, gdi::Fields::Sixteen)));
            break;
        case kCreatePatternBrush:
        case kDibCreatePatternBrush: {
            // The slot is taken whether or not the pattern could be read, so the indexes of
            // later objects stay right.
            gdi::Brush brush = gdi::unreadablePatternBrush();
            if (m_mode == ReadMode::Play) {
                brush = patternBrush(rec, c).value_or(brush);
            }
            m_player.addObject(gdi::brushObject(brush));
            break;
        }
        case kCreateFontIndirect:
            m_player.addObject(gdi::fontObject(gdi::readLogFont(c, gdi::Fields::Sixteen)));
            break;
        case kCreateRegion: {
            auto region = readRegion(c);
            m_player.addObject(gdi::regionObject(region ? std::move(*region) : gdi::Region{}));
            break;
        }
        case kFillRegion:
        case kFrameRegion:
        case kPaintRegion: {
            const gdi::Object* region = m_player.object(c.u16le());
            const gdi::Object* brush =
                rec.function == kPaintRegion ? nullptr : m_player.object(c.u16le());
            if (region == nullptr || region->kind != gdi::Object::Kind::Region) {
                break;
            }
            if (rec.function == kPaintRegion) {
                m_player.paintRegion(*region->region);
            } else if (brush != nullptr && brush->kind == gdi::Object::Kind::Brush) {
                if (rec.function == kFillRegion) {
                    m_player.fillRegion(*region->region, brush->brush, false);
                } else {
                    const double height = c.i16le(), width = c.i16le();
                    m_player.frameRegion(*region->region, brush->brush, width, height);
                }
            }
            break;
        }
        case kPolygon:
        case kPolyline: {
            auto points = readPoints(c, c.u16le());
            if (points && rec.function == kPolygon) {
                m_player.polygon(*points);
            } else if (points) {
                m_player.polyline(*points);
            }
            break;
        }
        case kPolyPolygon: {
            const std::uint16_t polys = c.u16le();
            if (polys > c.remaining() / 2) {
                break;
            }
            std::vector<std::uint16_t> counts(polys);
            for (auto& n : counts) {
                n = c.u16le();
            }
            std::vector<std::vector<PointF>> polygons;
            polygons.reserve(polys);
            for (std::uint16_t n : counts) {
                auto points = readPoints(c, n);
                if (!points) {
                    return;
                }
                polygons.push_back(std::move(*points));
            }
            m_player.polyPolygon(polygons);
            break;
        }
        case kExcludeClipRect:
            m_player.excludeClipRect(readReversedRect(c));
            break;
        case kIntersectClipRect:
            m_player.intersectClipRect(readReversedRect(c));
            break;
        case kEllipse:
            m_player.ellipse(readReversedRect(c));
            break;
        case kRectangle:
            m_player.rectangle(readReversedRect(c));
            break;
        case kRoundRect: {
            const double height = c.i16le(), width = c.i16le();
            const RectL r = readReversedRect(c);
            if (!c.failed()) {
                m_player.roundRect(r, width, height);
            }
            break;
        }
        case kArc:
        case kPie:
        case kChord: {
            const double yEnd = c.i16le(), xEnd = c.i16le(), yStart = c.i16le(), xStart = c.i16le();
            const RectL box = readReversedRect(c);
            if (c.failed()) {
                break;
            }
            const auto kind = rec.function == kArc   ? GdiPlayer::ArcKind::Arc
                              : rec.function == kPie ? GdiPlayer::ArcKind::Pie
                                                     : GdiPlayer::ArcKind::Chord;
            m_player.arc(box, {xStart, yStart}, {xEnd, yEnd}, kind);
            break;
        }
        case kSetPixel: {
            const gdi::Colour colour = gdi::readColorRef(c);
            const double y = c.i16le(), x = c.i16le();
            if (!c.failed()) {
                m_player.setPixel({x, y}, colour);
            }
            break;
        }
        case kPatBlt: {
            const std::uint32_t rop = c.u32le();
            const double height = c.i16le(), width = c.i16le(), y = c.i16le(), x = c.i16le();
            if (!c.failed()) {
                m_player.patBlt({x, y, x + width, y + height}, rop);
            }
            break;
        }
        case kTextOut:
            textOut(c);
            break;
        case kExtTextOut:
            extTextOut(c, rec);
            break;
        case kBitBlt:
        case kStretchBlt:
        case kDibBitBlt:
        case kDibStretchBlt:
        case kStretchDib:
            dibBlt(rec);
            break;
        case kSetDibToDev: {
            c.u16le();  // colour usage
            const std::uint16_t scans = c.u16le(), startScan = c.u16le();
            const std::int32_t yDib = c.i16le(), xDib = c.i16le();
            const std::int32_t height = c.i16le(), width = c.i16le();
            const double yDest = c.i16le(), xDest = c.i16le();
            BitmapDraw draw;
            BitmapInfo info;
            if (c.failed() || startScan != 0 || scans == 0 ||
                !dibAt(rec, c.position() + 6, draw, info)) {
                break;
            }
            const std::int64_t top = info.topDown ? yDib : info.height - (yDib + height);
            if (width <= 0 || height <= 0 || xDib < 0 || top < 0 || xDib + width > info.width ||
                top + height > info.height) {
                break;
            }
            draw.srcX = xDib;
            draw.srcY = int(top);
            draw.srcWidth = width;
            draw.srcHeight = height;
            m_player.bitmap(draw, {xDest, yDest, xDest + width, yDest + height}, 0x00CC0020);
            break;
        }
        default:
            break;
    }
}

bool isBitmapRecord(std::uint16_t function) {
    return function == kDibBitBlt || function == kDibStretchBlt || function == kStretchDib ||
           function == kSetDibToDev;
}

}  // namespace

std::optional<WmfHeader> readWmfHeader(const std::uint8_t* data, std::size_t size) {
    BoundedCursor c(data, size);
    WmfHeader h;
    if (c.u32le() == kPlaceableKey) {
        h.placeable = true;
        c.u16le();  // handle
        h.bbox.left = c.i16le();
        h.bbox.top = c.i16le();
        h.bbox.right = c.i16le();
        h.bbox.bottom = c.i16le();
        h.unitsPerInch = c.u16le();
        c.seek(kPlaceableBytes);
    } else {
        c.seek(0);
    }
    const std::size_t headerAt = c.position();
    const std::uint16_t type = c.u16le();
    const std::uint16_t words = c.u16le();
    const std::uint16_t version = c.u16le();
    if (c.failed() || (type != 1 && type != 2) || words != kHeaderWords ||
        (version != 0x0100 && version != 0x0300)) {
        return std::nullopt;
    }
    h.recordsAt = headerAt + kHeaderWords * 2;
    if (h.recordsAt > size) {
        return std::nullopt;
    }
    return h;
}

MetafileError readWmfRecords(const std::uint8_t* data, std::size_t size, const WmfHeader& header,
                             GdiPlayer& player, ReadMode mode) {
    MetafileError error;
    WmfReader reader(player, mode);
    RecordBudget budget;
    std::size_t offset = header.recordsAt;
    std::size_t number = 0;
    while (size - offset >= 6) {
        ++number;
        if (!budget.next(error)) {
            return error;
        }
        BoundedCursor c(data + offset, 6);
        const std::uint64_t bytes = std::uint64_t(c.u32le()) * 2;
        const std::uint16_t function = c.u16le();
        if (function == kEof) {
            break;
        }
        if (bytes < 6) {
            if (mode == ReadMode::Probe) {
                break;
            }
            return {MetafileError::Kind::Damaged,
                    "record " + std::to_string(number) + " has a bad size"};
        }
        if (bytes > size - offset) {
            if (mode == ReadMode::Probe) {
                if (isBitmapRecord(function)) {
                    reader.read({data + offset, size - offset, std::size_t(bytes), function});
                }
                break;
            }
            return {MetafileError::Kind::Damaged,
                    "record " + std::to_string(number) + " runs past the end of the file"};
        }
        reader.read({data + offset, std::size_t(bytes), std::size_t(bytes), function});
        if (player.probeDone()) {
            break;
        }
        offset += std::size_t(bytes);
    }
    if (mode == ReadMode::Play) {
        budget.finish(error);
    }
    return error;
}

}  // namespace metafile
