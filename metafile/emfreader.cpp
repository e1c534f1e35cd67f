// The records of an enhanced metafile ([MS-EMF] 2.3), read into the GDI player.
#include <cmath>
#include <cstring>

#include "metafile/limits.h"
#include "metafile/metafilereaders.h"
#include "workbook/bitmapinfo.h"
#include "workbook/boundedcursor.h"

namespace metafile {

using workbook::BitmapInfo;
using workbook::BoundedCursor;
using workbook::readBitmapInfo;

namespace {

constexpr std::uint32_t kEmfSignature = 0x464D4520;    // " EMF"
constexpr std::uint32_t kEmfPlusComment = 0x2B464D45;  // "EMF+"
constexpr std::size_t kMinHeaderBytes = 88;

enum Emr : std::uint32_t {
    kHeader = 1,
    kPolyBezier = 2,
    kPolygon = 3,
    kPolyline = 4,
    kPolyBezierTo = 5,
    kPolylineTo = 6,
    kPolyPolyline = 7,
    kPolyPolygon = 8,
    kSetWindowExtEx = 9,
    kSetWindowOrgEx = 10,
    kSetViewportExtEx = 11,
    kSetViewportOrgEx = 12,
    kEof = 14,
    kSetPixelV = 15,
    kSetMapMode = 17,
    kSetBkMode = 18,
    kSetPolyFillMode = 19,
    kSetRop2 = 20,
    kSetTextAlign = 22,
    kSetTextColor = 24,
    kSetBkColor = 25,
    kOffsetClipRgn = 26,
    kMoveToEx = 27,
    kExcludeClipRect = 29,
    kIntersectClipRect = 30,
    kScaleViewportExtEx = 31,
    kScaleWindowExtEx = 32,
    kSaveDc = 33,
    kRestoreDc = 34,
    kSetWorldTransform = 35,
    kModifyWorldTransform = 36,
    kSelectObject = 37,
    kCreatePen = 38,
    kCreateBrushIndirect = 39,
    kDeleteObject = 40,
    kAngleArc = 41,
    kEllipse = 42,
    kRectangle = 43,
    kRoundRect = 44,
    kArc = 45,
    kChord = 46,
    kPie = 47,
    kSelectPalette = 48,
    kCreatePalette = 49,
    kSetPaletteEntries = 50,
    kResizePalette = 51,
    kLineTo = 54,
    kArcTo = 55,
    kPolyDraw = 56,
    kSetArcDirection = 57,
    kSetMiterLimit = 58,
    kBeginPath = 59,
    kEndPath = 60,
    kCloseFigure = 61,
    kFillPath = 62,
    kStrokeAndFillPath = 63,
    kStrokePath = 64,
    kSelectClipPath = 67,
    kAbortPath = 68,
    kComment = 70,
    kFillRgn = 71,
    kFrameRgn = 72,
    kPaintRgn = 74,
    kExtSelectClipRgn = 75,
    kBitBlt = 76,
    kStretchBlt = 77,
    kSetDiBitsToDevice = 80,
    kStretchDiBits = 81,
    kExtCreateFontIndirectW = 82,
    kExtTextOutA = 83,
    kExtTextOutW = 84,
    kPolyBezier16 = 85,
    kPolygon16 = 86,
    kPolyline16 = 87,
    kPolyBezierTo16 = 88,
    kPolylineTo16 = 89,
    kPolyPolyline16 = 90,
    kPolyPolygon16 = 91,
    kPolyDraw16 = 92,
    kCreateMonoBrush = 93,
    kCreateDibPatternBrushPt = 94,
    kExtCreatePen = 95,
    kPolyTextOutA = 96,
    kPolyTextOutW = 97,
    kSmallTextOut = 108,
    kAlphaBlend = 114,
    kTransparentBlt = 116,
    kGradientFill = 118,
};

// One record: where it starts, the bytes present and the size it states. In a probe the
// bytes present may be fewer.
struct Record {
    const std::uint8_t* base;
    std::size_t available;
    std::size_t declared;
    std::uint32_t type;
    BoundedCursor body() const { return BoundedCursor(base + 8, available - 8); }
};

RectL readRect(BoundedCursor& c) {
    RectL r;
    r.left = c.i32le();
    r.top = c.i32le();
    r.right = c.i32le();
    r.bottom = c.i32le();
    return r;
}

PointF readPointL(BoundedCursor& c) {
    const double x = c.i32le();
    return {x, double(c.i32le())};
}

PointF readPointS(BoundedCursor& c) {
    const double x = c.i16le();
    return {x, double(c.i16le())};
}

std::optional<std::vector<PointF>> readPoints(BoundedCursor& c, std::uint32_t count, bool sixteen) {
    const std::size_t each = sixteen ? 4 : 8;
    if (count > c.remaining() / each) {
        return std::nullopt;
    }
    std::vector<PointF> points;
    points.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        points.push_back(sixteen ? readPointS(c) : readPointL(c));
    }
    return points;
}

// The polygon counts and then the points of a poly-poly record.
std::optional<std::vector<std::vector<PointF>>> readPolyPoly(BoundedCursor& c, bool sixteen) {
    c.skip(16);  // bounds
    const std::uint32_t polys = c.u32le();
    const std::uint32_t total = c.u32le();
    if (c.failed() || polys > c.remaining() / 4) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> counts(polys);
    std::uint64_t sum = 0;
    for (auto& n : counts) {
        n = c.u32le();
        sum += n;
    }
    if (sum != total) {
        return std::nullopt;
    }
    auto points = readPoints(c, total, sixteen);
    if (!points) {
        return std::nullopt;
    }
    std::vector<std::vector<PointF>> out(polys);
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < polys; ++i) {
        out[i].assign(points->begin() + std::ptrdiff_t(at),
                      points->begin() + std::ptrdiff_t(at + counts[i]));
        at += counts[i];
    }
    return out;
}

std::optional<gdi::Region> readRegion(BoundedCursor& c, std::uint32_t bytes) {
    if (bytes < 32 || bytes > c.remaining()) {
        return std::nullopt;
    }
    BoundedCursor r(c.here(), bytes);
    r.skip(8);  // header size and type
    const std::uint32_t count = r.u32le();
    r.skip(4 + 16);  // region size and bounds
    if (r.failed() || count > r.remaining() / 16) {
        return std::nullopt;
    }
    gdi::Region region;
    region.rects.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        region.rects.push_back(readRect(r));
    }
    return region;
}

// Where a record keeps its DIB: the offsets and sizes of its header and of its pixels.
struct DibPlace {
    std::uint32_t offBmi = 0, cbBmi = 0, offBits = 0, cbBits = 0;
};

DibPlace readDibPlace(BoundedCursor& c) {
    DibPlace p;
    p.offBmi = c.u32le();
    p.cbBmi = c.u32le();
    p.offBits = c.u32le();
    p.cbBits = c.u32le();
    return p;
}

// A DIB kept in a record at the offsets the record gives; nothing when it does not fit. A probe
// reads the header only, as the pixels may lie past its bytes.
bool locateDib(const Record& rec, const DibPlace& place, ReadMode mode, BitmapDraw& draw,
               BitmapInfo& info) {
    const auto [offBmi, cbBmi, offBits, cbBits] = place;
    if (cbBmi == 0 || std::uint64_t(offBmi) + cbBmi > rec.available ||
        std::uint64_t(offBits) + cbBits > rec.declared) {
        return false;
    }
    auto header = readBitmapInfo(rec.base + offBmi, cbBmi);
    if (!header || header->headerBytes > cbBmi) {
        return false;
    }
    if (mode == ReadMode::Play &&
        (std::uint64_t(offBits) + cbBits > rec.available || cbBits < header->pixelBytes)) {
        return false;
    }
    info = *header;
    draw.header = rec.base + offBmi;
    draw.headerSize = cbBmi;
    draw.bits = mode == ReadMode::Play ? rec.base + offBits : nullptr;
    draw.bitsSize = mode == ReadMode::Play ? cbBits : 0;
    return true;
}

// The part of a record's DIB that is drawn: found in the record, its source kept inside it.
bool sourceDib(const Record& rec, const DibPlace& place, ReadMode mode, std::int64_t x,
               std::int64_t y, std::int64_t w, std::int64_t h, bool yFromBottom, BitmapDraw& draw) {
    BitmapInfo info;
    return locateDib(rec, place, mode, draw, info) &&
           gdi::setBitmapSource(draw, info, x, y, w, h, yFromBottom);
}

RectL destRect(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    return {double(x), double(y), double(x) + w, double(y) + h};
}

gdi::Brush dibBrush(const Record& rec, BoundedCursor& c, ReadMode mode) {
    c.u32le();  // usage
    const DibPlace place = readDibPlace(c);
    BitmapDraw draw;
    BitmapInfo info;
    if (mode == ReadMode::Play && locateDib(rec, place, mode, draw, info)) {
        return gdi::patternBrush(draw.header, info.headerBytes, draw.bits, draw.bitsSize);
    }
    return gdi::unreadablePatternBrush();
}

class EmfReader {
public:
    EmfReader(GdiPlayer& player, ReadMode mode, EmfPlusStream& plus)
        : m_player(player), m_mode(mode), m_plus(plus) {}

    void read(const Record& rec);

private:
    void polyRecord(const Record& rec, bool sixteen);
    void polyPolyRecord(const Record& rec, bool sixteen);
    void bitBlt(const Record& rec, bool stretch);
    void stretchDiBits(const Record& rec);
    void setDiBitsToDevice(const Record& rec);
    void blend(const Record& rec, bool alpha);
    // The characters it drew.
    std::size_t textRecord(BoundedCursor& c, const Record& rec, bool wide);
    void smallTextOut(BoundedCursor& c);
    void comment(BoundedCursor& c);
    void gradientFill(BoundedCursor& c);

    GdiPlayer& m_player;
    ReadMode m_mode;
    EmfPlusStream& m_plus;
};

// Records read even where EMF+ draws the picture: the comments that carry it, and the objects,
// whose table the EMF records after a GetDC share with the rest.
bool readUnderEmfPlus(std::uint32_t type) {
    switch (type) {
        case kComment:
        case kCreatePen:
        case kCreateBrushIndirect:
        case kDeleteObject:
        case kCreatePalette:
        case kExtCreateFontIndirectW:
        case kCreateMonoBrush:
        case kCreateDibPatternBrushPt:
        case kExtCreatePen:
            return true;
        default:
            return false;
    }
}

void EmfReader::polyRecord(const Record& rec, bool sixteen) {
    BoundedCursor c = rec.body();
    c.skip(16);  // bounds
    const std::uint32_t count = c.u32le();
    auto points = readPoints(c, count, sixteen);
    if (!points) {
        return;
    }
    switch (rec.type) {
        case kPolyBezier:
        case kPolyBezier16:
            m_player.polyBezier(*points);
            break;
        case kPolygon:
        case kPolygon16:
            m_player.polygon(*points);
            break;
        case kPolyline:
        case kPolyline16:
            m_player.polyline(*points);
            break;
        case kPolyBezierTo:
        case kPolyBezierTo16:
            m_player.polyBezierTo(*points);
            break;
        case kPolylineTo:
        case kPolylineTo16:
            m_player.polylineTo(*points);
            break;
        case kPolyDraw:
        case kPolyDraw16: {
            if (count > c.remaining()) {
                return;
            }
            std::vector<std::uint8_t> types(c.here(), c.here() + count);
            m_player.polyDraw(*points, types);
            break;
        }
        default:
            break;
    }
}

void EmfReader::polyPolyRecord(const Record& rec, bool sixteen) {
    BoundedCursor c = rec.body();
    auto polys = readPolyPoly(c, sixteen);
    if (!polys) {
        return;
    }
    if (rec.type == kPolyPolygon || rec.type == kPolyPolygon16) {
        m_player.polyPolygon(*polys);
    } else {
        m_player.polyPolyline(*polys);
    }
}

void EmfReader::bitBlt(const Record& rec, bool stretch) {
    BoundedCursor c = rec.body();
    c.skip(16);  // bounds
    const std::int32_t xDest = c.i32le(), yDest = c.i32le();
    const std::int32_t cxDest = c.i32le(), cyDest = c.i32le();
    const std::uint32_t rop = c.u32le();
    const std::int32_t xSrc = c.i32le(), ySrc = c.i32le();
    c.skip(24 + 4);  // source transform and background colour
    c.u32le();       // usage
    const DibPlace place = readDibPlace(c);
    std::int32_t cxSrc = cxDest, cySrc = cyDest;
    if (stretch) {
        cxSrc = c.i32le();
        cySrc = c.i32le();
    }
    if (c.failed()) {
        return;
    }
    const RectL dest = destRect(xDest, yDest, cxDest, cyDest);
    if (place.cbBmi == 0) {
        m_player.patBlt(dest, rop);
        return;
    }
    BitmapDraw draw;
    if (sourceDib(rec, place, m_mode, xSrc, ySrc, cxSrc, cySrc, false, draw)) {
        m_player.bitmap(draw, dest, rop);
    }
}

void EmfReader::stretchDiBits(const Record& rec) {
    BoundedCursor c = rec.body();
    c.skip(16);
    const std::int32_t xDest = c.i32le(), yDest = c.i32le();
    const std::int32_t xSrc = c.i32le(), ySrc = c.i32le();
    const std::int32_t cxSrc = c.i32le(), cySrc = c.i32le();
    const DibPlace place = readDibPlace(c);
    const std::uint32_t usage = c.u32le();
    const std::uint32_t rop = c.u32le();
    const std::int32_t cxDest = c.i32le(), cyDest = c.i32le();
    if (c.failed() || usage != 0) {  // palette indices instead of colours: not drawn
        return;
    }
    BitmapDraw draw;
    if (sourceDib(rec, place, m_mode, xSrc, ySrc, cxSrc, cySrc, true, draw)) {
        m_player.bitmap(draw, destRect(xDest, yDest, cxDest, cyDest), rop);
    }
}

void EmfReader::setDiBitsToDevice(const Record& rec) {
    BoundedCursor c = rec.body();
    c.skip(16);
    const std::int32_t xDest = c.i32le(), yDest = c.i32le();
    const std::int32_t xSrc = c.i32le(), ySrc = c.i32le();
    const std::int32_t cxSrc = c.i32le(), cySrc = c.i32le();
    const DibPlace place = readDibPlace(c);
    const std::uint32_t usage = c.u32le();
    const std::uint32_t startScan = c.u32le();
    if (c.failed() || usage != 0 || startScan != 0) {
        return;
    }
    BitmapDraw draw;
    if (sourceDib(rec, place, m_mode, xSrc, ySrc, cxSrc, cySrc, true, draw)) {
        m_player.bitmap(draw, destRect(xDest, yDest, cxSrc, cySrc), 0x00CC0020);
    }
}

void EmfReader::blend(const Record& rec, bool alpha) {
    BoundedCursor c = rec.body();
    c.skip(16);
    const std::int32_t xDest = c.i32le(), yDest = c.i32le();
    const std::int32_t cxDest = c.i32le(), cyDest = c.i32le();
    const std::uint32_t parameter = c.u32le();
    const std::int32_t xSrc = c.i32le(), ySrc = c.i32le();
    c.skip(24 + 4);
    c.u32le();
    const DibPlace place = readDibPlace(c);
    const std::int32_t cxSrc = c.i32le(), cySrc = c.i32le();
    if (c.failed()) {
        return;
    }
    BitmapDraw draw;
    if (!sourceDib(rec, place, m_mode, xSrc, ySrc, cxSrc, cySrc, false, draw)) {
        return;
    }
    if (alpha) {
        // BLENDFUNCTION: operation, flags, constant alpha, then AC_SRC_ALPHA.
        draw.constantAlpha = int((parameter >> 16) & 0xFF);
        draw.sourceAlpha = ((parameter >> 24) & 0x01) != 0;
    } else {
        draw.hasTransparentColour = true;
        draw.transparentColour = {std::uint8_t(parameter), std::uint8_t(parameter >> 8),
                                  std::uint8_t(parameter >> 16)};
    }
    m_player.bitmap(draw, destRect(xDest, yDest, cxDest, cyDest), 0x00CC0020);
}

std::size_t EmfReader::textRecord(BoundedCursor& c, const Record& rec, bool wide) {
    constexpr std::uint32_t kEtoPdy = 0x2000;
    GdiPlayer::Text text;
    text.reference = readPointL(c);
    const std::uint32_t chars = c.u32le();
    const std::uint32_t offString = c.u32le();
    text.options = int(c.u32le());
    const RectL rect = readRect(c);
    const std::uint32_t offDx = c.u32le();
    if (c.failed()) {
        return 0;
    }
    const std::uint64_t stringBytes = std::uint64_t(chars) * (wide ? 2 : 1);
    if (std::uint64_t(offString) + stringBytes > rec.available) {
        return 0;
    }
    text.isWide = wide;
    const std::uint8_t* s = rec.base + offString;
    if (wide) {
        text.wide.reserve(chars);
        for (std::uint32_t i = 0; i < chars; ++i) {
            text.wide.push_back(char16_t(s[2 * i] | (s[2 * i + 1] << 8)));
        }
    } else {
        text.narrow.assign(reinterpret_cast<const char*>(s), chars);
    }
    const std::uint64_t dxValues = (text.options & kEtoPdy) != 0 ? 2ull * chars : chars;
    if (offDx != 0 && std::uint64_t(offDx) + dxValues * 4 <= rec.available) {
        BoundedCursor dx(rec.base + offDx, std::size_t(dxValues * 4));
        text.dx.reserve(chars);
        for (std::uint32_t i = 0; i < chars; ++i) {
            text.dx.push_back(dx.i32le());
            if ((text.options & kEtoPdy) != 0) {
                dx.i32le();
            }
        }
    }
    if (rect.right > rect.left && rect.bottom > rect.top) {
        text.rect = rect;
    }
    m_player.text(text);
    return std::min<std::size_t>(chars, kMaxMetafileTextChars);
}

// [MS-EMF] 2.3.5.37 EMR_SMALLTEXTOUT: a reference point, the options, then a rectangle unless
// ETO_NO_RECT, and the characters: UTF-16, or with ETO_SMALL_CHARS the low bytes of code units
// that are all below 256.
void EmfReader::smallTextOut(BoundedCursor& c) {
    constexpr std::uint32_t kEtoNoRect = 0x100, kEtoSmallChars = 0x200;
    GdiPlayer::Text text;
    text.reference = readPointL(c);
    const std::uint32_t chars = c.u32le();
    const std::uint32_t options = c.u32le();
    c.skip(4 + 8);  // graphics mode and scales
    text.options = int(options & ~(kEtoNoRect | kEtoSmallChars));
    if ((options & kEtoNoRect) == 0) {
        const RectL rect = readRect(c);
        if (rect.right > rect.left && rect.bottom > rect.top) {
            text.rect = rect;
        }
    }
    const bool small = (options & kEtoSmallChars) != 0;
    if (c.failed() || chars > c.remaining() / (small ? 1 : 2)) {
        return;
    }
    text.isWide = true;
    for (std::uint32_t i = 0; i < chars; ++i) {
        text.wide.push_back(char16_t(small ? c.u8() : c.u16le()));
    }
    m_player.text(text);
}

void EmfReader::comment(BoundedCursor& c) {
    const std::uint32_t size = c.u32le();
    if (size < 4 || c.u32le() != kEmfPlusComment || size - 4 > c.remaining()) {
        return;
    }
    m_plus.comment(c.here(), size - 4);
}

void EmfReader::gradientFill(BoundedCursor& c) {
    c.skip(16);
    const std::uint32_t vertices = c.u32le();
    const std::uint32_t shapes = c.u32le();
    const std::uint32_t mode = c.u32le();
    if (c.failed() || vertices > c.remaining() / 16) {
        return;
    }
    // TRIVERTEX: a point and 16-bit channels, of which GDI draws the high byte.
    std::vector<ShadedVertex> v(vertices);
    for (auto& vertex : v) {
        vertex.at = readPointL(c);
        vertex.colour.r = std::uint8_t(c.u16le() >> 8);
        vertex.colour.g = std::uint8_t(c.u16le() >> 8);
        vertex.colour.b = std::uint8_t(c.u16le() >> 8);
        c.u16le();
    }
    const bool triangles = mode == 2;
    const std::size_t each = triangles ? 12 : 8;
    if (shapes > c.remaining() / each) {
        return;
    }
    std::vector<ShadedVertex> corners;
    for (std::uint32_t i = 0; i < shapes; ++i) {
        const std::uint32_t a = c.u32le(), b = c.u32le(), t = triangles ? c.u32le() : a;
        if (a >= vertices || b >= vertices || t >= vertices) {
            continue;
        }
        if (triangles) {
            corners.insert(corners.end(), {v[a], v[b], v[t]});
        } else {
            m_player.gradientRect(v[a], v[b], mode == 1);
        }
    }
    if (!corners.empty()) {
        m_player.gradientTriangles(std::move(corners));
    }
}

void EmfReader::read(const Record& rec) {
    // Where EMF+ draws, the EMF records that stand in for it are not drawn as well.
    if (!m_plus.drawsEmfRecords() && !readUnderEmfPlus(rec.type)) {
        return;
    }
    BoundedCursor c = rec.body();
    switch (rec.type) {
        case kPolyBezier:
        case kPolygon:
        case kPolyline:
        case kPolyBezierTo:
        case kPolylineTo:
        case kPolyDraw:
            polyRecord(rec, false);
            break;
        case kPolyBezier16:
        case kPolygon16:
        case kPolyline16:
        case kPolyBezierTo16:
        case kPolylineTo16:
        case kPolyDraw16:
            polyRecord(rec, true);
            break;
        case kPolyPolyline:
        case kPolyPolygon:
            polyPolyRecord(rec, false);
            break;
        case kPolyPolyline16:
        case kPolyPolygon16:
            polyPolyRecord(rec, true);
            break;
        case kSetWindowExtEx: {
            const PointF p = readPointL(c);
            m_player.setWindowExt(p.x, p.y);
            break;
        }
        case kSetWindowOrgEx: {
            const PointF p = readPointL(c);
            m_player.setWindowOrg(p.x, p.y);
            break;
        }
        case kSetViewportExtEx: {
            const PointF p = readPointL(c);
            m_player.setViewportExt(p.x, p.y);
            break;
        }
        case kSetViewportOrgEx: {
            const PointF p = readPointL(c);
            m_player.setViewportOrg(p.x, p.y);
            break;
        }
        case kScaleViewportExtEx:
        case kScaleWindowExtEx: {
            const double xNum = c.i32le(), xDenom = c.i32le(), yNum = c.i32le(), yDenom = c.i32le();
            if (rec.type == kScaleWindowExtEx) {
                m_player.scaleWindowExt(xNum, xDenom, yNum, yDenom);
            } else {
                m_player.scaleViewportExt(xNum, xDenom, yNum, yDenom);
            }
            break;
        }
        case kSetPixelV: {
            const PointF p = readPointL(c);
            m_player.setPixel(p, gdi::readColorRef(c));
            break;
        }
        case kSetMapMode:
            m_player.setMapMode(int(c.u32le()));
            break;
        case kSetBkMode:
            m_player.setBkMode(int(c.u32le()));
            break;
        case kSetPolyFillMode:
            m_player.setPolyFillMode(int(c.u32le()));
            break;
        case kSetRop2:
            m_player.setRop2(int(c.u32le()));
            break;
        case kSetTextAlign:
            m_player.setTextAlign(int(c.u32le()));
            break;
        case kSetTextColor:
            m_player.setTextColour(gdi::readColorRef(c));
            break;
        case kSetBkColor:
            m_player.setBkColour(gdi::readColorRef(c));
            break;
        case kSetArcDirection:
            m_player.setArcDirection(int(c.u32le()));
            break;
        case kSetMiterLimit:
            m_player.setMiterLimit(double(c.u32le()));
            break;
        case kSmallTextOut:
            smallTextOut(c);
            break;
        case kSelectPalette:
            m_player.selectPalette(c.u32le());
            break;
        case kSetPaletteEntries: {
            const std::uint32_t index = c.u32le(), start = c.u32le(), count = c.u32le();
            if (c.failed() || count > c.remaining() / 4) {
                break;
            }
            std::vector<Rgb> entries(count);
            for (Rgb& entry : entries) {
                entry = gdi::readColorRef(c).rgb;
            }
            m_player.setPaletteEntries(index, start, entries);
            break;
        }
        case kResizePalette: {
            const std::uint32_t index = c.u32le(), count = c.u32le();
            if (!c.failed()) {
                m_player.resizePalette(index, count);
            }
            break;
        }
        case kOffsetClipRgn: {
            const PointF p = readPointL(c);
            m_player.offsetClip(p.x, p.y);
            break;
        }
        case kMoveToEx:
            m_player.moveTo(readPointL(c));
            break;
        case kLineTo:
            m_player.lineTo(readPointL(c));
            break;
        case kExcludeClipRect:
            m_player.excludeClipRect(readRect(c));
            break;
        case kIntersectClipRect:
            m_player.intersectClipRect(readRect(c));
            break;
        case kSaveDc:
            m_player.saveDc();
            break;
        case kRestoreDc:
            m_player.restoreDc(c.i32le());
            break;
        case kSetWorldTransform:
        case kModifyWorldTransform: {
            const Affine m = readAffine(c);
            if (c.failed()) {
                break;
            }
            if (rec.type == kSetWorldTransform) {
                m_player.setWorldTransform(m);
            } else {
                m_player.modifyWorldTransform(m, int(c.u32le()));
            }
            break;
        }
        case kSelectObject:
            m_player.selectObject(c.u32le());
            break;
        case kDeleteObject:
            m_player.deleteObject(c.u32le());
            break;
        case kCreatePen: {
            const std::uint32_t index = c.u32le();
            const gdi::Pen pen = gdi::readLogPen(c, gdi::Fields::ThirtyTwo);
            if (!c.failed()) {
                m_player.setObject(index, gdi::penObject(pen));
            }
            break;
        }
        case kExtCreatePen: {
            const std::uint32_t index = c.u32le();
            c.skip(16);  // pattern bitmap, drawn as the pen's colour
            gdi::Pen pen;
            pen.style = int(c.u32le());
            pen.width = c.u32le();
            const std::uint32_t brushStyle = c.u32le();
            pen.colour = gdi::readColorRef(c);
            pen.cosmetic = (pen.style & 0xF0000) == 0 || pen.width <= 0;
            if (brushStyle == 1) {  // BS_NULL
                pen.style = (pen.style & ~0xF) | 5;
            }
            if (!c.failed()) {
                m_player.setObject(index, gdi::penObject(pen));
            }
            break;
        }
        case kCreateBrushIndirect: {
            const std::uint32_t index = c.u32le();
            const gdi::Brush brush = gdi::readLogBrush(c, gdi::Fields::ThirtyTwo);
            if (!c.failed()) {
                m_player.setObject(index, gdi::brushObject(brush));
            }
            break;
        }
        case kCreateMonoBrush: {
            // Its bitmap may come without a colour table, which GDI would not use anyway.
            const std::uint32_t index = c.u32le();
            BoundedCursor d = c;
            d.u32le();  // usage
            const DibPlace place = readDibPlace(d);
            std::optional<gdi::Brush> mono;
            if (m_mode == ReadMode::Play && !d.failed() &&
                std::uint64_t(place.offBmi) + place.cbBmi <= rec.available &&
                std::uint64_t(place.offBits) + place.cbBits <= rec.available) {
                mono = gdi::monoPatternBrushOfDib(rec.base + place.offBmi, place.cbBmi,
                                                  rec.base + place.offBits, place.cbBits);
            }
            const gdi::Brush brush = mono ? *mono : dibBrush(rec, c, m_mode);
            if (!c.failed()) {
                m_player.setObject(index, gdi::brushObject(brush));
            }
            break;
        }
        case kCreateDibPatternBrushPt: {
            const std::uint32_t index = c.u32le();
            const gdi::Brush brush = dibBrush(rec, c, m_mode);
            if (!c.failed()) {
                m_player.setObject(index, gdi::brushObject(brush));
            }
            break;
        }
        case kCreatePalette: {
            const std::uint32_t index = c.u32le();
            c.u16le();  // version
            m_player.setObject(index, gdi::paletteObject(gdi::readPaletteEntries(c)));
            break;
        }
        case kExtCreateFontIndirectW: {
            const std::uint32_t index = c.u32le();
            const gdi::Font font = gdi::readLogFont(c, gdi::Fields::ThirtyTwo);
            if (!c.failed()) {
                m_player.setObject(index, gdi::fontObject(font));
            }
            break;
        }
        case kAngleArc: {
            const PointF centre = readPointL(c);
            const double radius = c.u32le();
            const double start = c.f32le(), sweep = c.f32le();
            if (!c.failed()) {
                m_player.angleArc(centre, radius, start, sweep);
            }
            break;
        }
        case kEllipse:
            m_player.ellipse(readRect(c));
            break;
        case kRectangle:
            m_player.rectangle(readRect(c));
            break;
        case kRoundRect: {
            const RectL r = readRect(c);
            const PointF corner = readPointL(c);
            m_player.roundRect(r, corner.x, corner.y);
            break;
        }
        case kArc:
        case kChord:
        case kPie:
        case kArcTo: {
            const RectL box = readRect(c);
            const PointF start = readPointL(c), end = readPointL(c);
            if (c.failed()) {
                break;
            }
            const auto kind = rec.type == kArc     ? GdiPlayer::ArcKind::Arc
                              : rec.type == kChord ? GdiPlayer::ArcKind::Chord
                              : rec.type == kPie   ? GdiPlayer::ArcKind::Pie
                                                   : GdiPlayer::ArcKind::ArcTo;
            m_player.arc(box, start, end, kind);
            break;
        }
        case kBeginPath:
            m_player.beginPath();
            break;
        case kEndPath:
            m_player.endPath();
            break;
        case kAbortPath:
            m_player.abortPath();
            break;
        case kCloseFigure:
            m_player.closeFigure();
            break;
        case kFillPath:
            m_player.fillPath();
            break;
        case kStrokePath:
            m_player.strokePath();
            break;
        case kStrokeAndFillPath:
            m_player.strokeAndFillPath();
            break;
        case kSelectClipPath:
            m_player.selectClipPath(int(c.u32le()));
            break;
        case kComment:
            comment(c);
            break;
        case kFillRgn:
        case kFrameRgn:
        case kPaintRgn: {
            c.skip(16);
            const std::uint32_t bytes = c.u32le();
            std::uint32_t brushIndex = 0;
            double width = 0, height = 0;
            if (rec.type != kPaintRgn) {
                brushIndex = c.u32le();
            }
            if (rec.type == kFrameRgn) {
                width = c.i32le();
                height = c.i32le();
            }
            auto region = readRegion(c, bytes);
            if (!region) {
                break;
            }
            gdi::Brush brush;
            if (rec.type == kPaintRgn) {
                m_player.paintRegion(*region);
                break;
            }
            const gdi::Object* o = m_player.object(brushIndex);
            if ((brushIndex & 0x80000000u) != 0 || o == nullptr ||
                o->kind != gdi::Object::Kind::Brush) {
                break;
            }
            if (rec.type == kFillRgn) {
                m_player.fillRegion(*region, o->brush, false);
            } else {
                m_player.frameRegion(*region, o->brush, width, height);
            }
            break;
        }
        case kExtSelectClipRgn: {
            const std::uint32_t bytes = c.u32le();
            const int mode = int(c.u32le());
            if (c.failed()) {
                break;
            }
            auto region =
                bytes == 0 ? std::optional<gdi::Region>(gdi::Region{}) : readRegion(c, bytes);
            if (region) {
                m_player.selectClipRegion(&*region, mode, true);
            }
            break;
        }
        case kBitBlt:
            bitBlt(rec, false);
            break;
        case kStretchBlt:
            bitBlt(rec, true);
            break;
        case kStretchDiBits:
            stretchDiBits(rec);
            break;
        case kSetDiBitsToDevice:
            setDiBitsToDevice(rec);
            break;
        case kAlphaBlend:
            blend(rec, true);
            break;
        case kTransparentBlt:
            blend(rec, false);
            break;
        case kExtTextOutA:
        case kExtTextOutW:
            c.skip(16 + 12);  // bounds, graphics mode and scales
            textRecord(c, rec, rec.type == kExtTextOutW);
            break;
        case kPolyTextOutA:
        case kPolyTextOutW: {
            c.skip(16 + 12);
            // All the strings of one record draw no more characters than one string may.
            const std::uint32_t strings = c.u32le();
            std::size_t drawn = 0;
            for (std::uint32_t i = 0;
                 i < strings && c.remaining() >= 40 && drawn < kMaxMetafileTextChars; ++i) {
                drawn += textRecord(c, rec, rec.type == kPolyTextOutW);
            }
            break;
        }
        case kGradientFill:
            gradientFill(c);
            break;
        default:
            break;
    }
}

bool isBitmapRecord(std::uint32_t type) {
    return type == kBitBlt || type == kStretchBlt || type == kStretchDiBits ||
           type == kSetDiBitsToDevice || type == kAlphaBlend || type == kTransparentBlt;
}

}  // namespace

std::optional<EmfHeader> readEmfHeader(const std::uint8_t* data, std::size_t size) {
    BoundedCursor c(data, size);
    if (c.u32le() != kHeader) {
        return std::nullopt;
    }
    EmfHeader h;
    h.headerSize = c.u32le();
    h.bounds = readRect(c);
    h.frame = readRect(c);
    if (c.u32le() != kEmfSignature) {
        return std::nullopt;
    }
    c.skip(4 + 4 + 4 + 2 + 2);  // version, bytes, records, handles
    const std::uint32_t descriptionChars = c.u32le();
    const std::uint32_t descriptionAt = c.u32le();
    c.skip(4);  // palette entries
    const std::int32_t devW = c.i32le(), devH = c.i32le();
    const std::int32_t mmW = c.i32le(), mmH = c.i32le();
    if (c.failed() || h.headerSize < kMinHeaderBytes || h.headerSize % 4 != 0 ||
        h.headerSize > size) {
        return std::nullopt;
    }
    if (devW > 0 && devH > 0 && mmW > 0 && mmH > 0) {
        h.pxPerMmX = double(devW) / mmW;
        h.pxPerMmY = double(devH) / mmH;
    }
    // A header of 108 bytes or more, with its description (if any) behind them, also gives the
    // device's size in micrometres, which is exact where the millimetres are rounded.
    const bool extended = h.headerSize >= 108 && (descriptionChars == 0 || descriptionAt >= 108);
    if (extended && devW > 0 && devH > 0) {
        c.seek(100);
        const std::int32_t umW = c.i32le(), umH = c.i32le();
        if (!c.failed() && umW > 0 && umH > 0) {
            h.pxPerMmX = double(devW) * 1000 / umW;
            h.pxPerMmY = double(devH) * 1000 / umH;
        }
    }
    return h;
}

MetafileError readEmfRecords(const std::uint8_t* data, std::size_t size, GdiPlayer& player,
                             ReadMode mode, EmfPlusStream* plus) {
    MetafileError error;
    auto header = readEmfHeader(data, size);
    if (!header) {
        return {MetafileError::Kind::Damaged, "the header is not an EMF header"};
    }
    if (header->pxPerMmX > 0) {
        player.setDeviceResolution(header->pxPerMmX, header->pxPerMmY);
    }
    std::optional<EmfPlusStream> followed;
    if (plus == nullptr) {
        plus = &followed.emplace(nullptr, MetafileLayout{}, 0);
    }
    EmfReader reader(player, mode, *plus);
    RecordBudget budget;
    std::size_t offset = header->headerSize;
    std::size_t number = 1;
    while (size - offset >= 8) {
        ++number;
        if (!budget.next(error)) {
            return error;
        }
        BoundedCursor c(data + offset, 8);
        const std::uint32_t type = c.u32le();
        const std::uint32_t recordSize = c.u32le();
        if (recordSize < 8 || recordSize % 4 != 0) {
            if (mode == ReadMode::Probe) {
                break;
            }
            return {MetafileError::Kind::Damaged,
                    "record " + std::to_string(number) + " has a bad size"};
        }
        if (recordSize > size - offset) {
            if (mode == ReadMode::Probe) {
                // The first bytes end inside this record: a bitmap's header still tells the
                // picture's size.
                if (isBitmapRecord(type)) {
                    reader.read({data + offset, size - offset, recordSize, type});
                }
                break;
            }
            return {MetafileError::Kind::Damaged,
                    "record " + std::to_string(number) + " runs past the end of the file"};
        }
        if (type == kEof) {
            break;
        }
        reader.read({data + offset, recordSize, recordSize, type});
        if (plus->error()) {
            return plus->error();
        }
        if (player.probeDone()) {
            break;
        }
        offset += recordSize;
    }
    if (mode == ReadMode::Play) {
        budget.finish(error);
    }
    return error;
}

}  // namespace metafile
