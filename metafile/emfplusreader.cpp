// The records of EMF+ ([MS-EMFPLUS] 2.3) as an EMF's comments carry them, read into the EMF+
// player. Every count is checked against the record's bytes.
#include <algorithm>
#include <cmath>

#include "metafile/emfplusplayer.h"
#include "metafile/limits.h"
#include "metafile/metafilereaders.h"
#include "workbook/boundedcursor.h"

namespace metafile {

using workbook::BoundedCursor;
using namespace emfplus;

namespace {

enum Record : std::uint16_t {
    kHeader = 0x4001,
    kEndOfFile = 0x4002,
    kGetDc = 0x4004,
    kObject = 0x4008,
    kClear = 0x4009,
    kFillRects = 0x400A,
    kDrawRects = 0x400B,
    kFillPolygon = 0x400C,
    kDrawLines = 0x400D,
    kFillEllipse = 0x400E,
    kDrawEllipse = 0x400F,
    kFillPie = 0x4010,
    kDrawPie = 0x4011,
    kDrawArc = 0x4012,
    kFillRegion = 0x4013,
    kFillPath = 0x4014,
    kDrawPath = 0x4015,
    kFillClosedCurve = 0x4016,
    kDrawClosedCurve = 0x4017,
    kDrawCurve = 0x4018,
    kDrawBeziers = 0x4019,
    kDrawImage = 0x401A,
    kDrawImagePoints = 0x401B,
    kDrawString = 0x401C,
    kSetAntiAliasMode = 0x401E,
    kSetTextRenderingHint = 0x401F,
    kSetInterpolationMode = 0x4021,
    kSetPixelOffsetMode = 0x4022,
    kSave = 0x4025,
    kRestore = 0x4026,
    kBeginContainer = 0x4027,
    kBeginContainerNoParams = 0x4028,
    kEndContainer = 0x4029,
    kSetWorldTransform = 0x402A,
    kResetWorldTransform = 0x402B,
    kMultiplyWorldTransform = 0x402C,
    kTranslateWorldTransform = 0x402D,
    kScaleWorldTransform = 0x402E,
    kRotateWorldTransform = 0x402F,
    kSetPageTransform = 0x4030,
    kResetClip = 0x4031,
    kSetClipRect = 0x4032,
    kSetClipPath = 0x4033,
    kSetClipRegion = 0x4034,
    kOffsetClip = 0x4035,
    kDrawDriverString = 0x4036,
};

// Record flags.
constexpr std::uint16_t kSolidColour = 0x8000;    // S: the brush is a colour
constexpr std::uint16_t kCompressed = 0x4000;     // C: 16-bit integer coordinates
constexpr std::uint16_t kClosedOrAfter = 0x2000;  // L, W and A: closed, winding, appended
constexpr std::uint16_t kRelative = 0x0800;       // P: points relative to the one before
constexpr std::uint16_t kContinued = 0x8000;      // an object in more than one record

constexpr double kPi = 3.14159265358979323846;

RectF readRect(BoundedCursor& c, bool compressed) {
    RectF r;
    if (compressed) {
        r.x = c.i16le();
        r.y = c.i16le();
        r.width = c.i16le();
        r.height = c.i16le();
    } else {
        r.x = c.f32le();
        r.y = c.f32le();
        r.width = c.f32le();
        r.height = c.f32le();
    }
    return r;
}

bool finite(const RectF& r) {
    return std::isfinite(r.x + r.y + r.width + r.height);
}

int relativeCoordinate(BoundedCursor& c) {
    const std::uint8_t first = c.u8();
    if ((first & 0x80) == 0) {
        return (first & 0x40) != 0 ? int(first) - 0x80 : int(first);
    }
    const int value = ((first & 0x7F) << 8) | c.u8();
    return (value & 0x4000) != 0 ? value - 0x8000 : value;
}

// count points in the form the flags give; nothing when they do not fit.
std::optional<std::vector<PointF>> readPoints(BoundedCursor& c, std::uint32_t count,
                                              std::uint16_t flags) {
    const bool relative = (flags & kRelative) != 0;
    const std::size_t each = relative ? 2 : (flags & kCompressed) != 0 ? 4 : 8;
    if (c.failed() || count > c.remaining() / each || count > kMaxMetafilePathPoints) {
        return std::nullopt;
    }
    std::vector<PointF> points;
    points.reserve(count);
    PointF at;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (relative) {
            const int dx = relativeCoordinate(c);
            at = {at.x + dx, at.y + relativeCoordinate(c)};
            points.push_back(at);
        } else if ((flags & kCompressed) != 0) {
            const double x = c.i16le();
            points.push_back({x, double(c.i16le())});
        } else {
            const double x = c.f32le();
            const double y = c.f32le();
            points.push_back({std::isfinite(x) ? x : 0, std::isfinite(y) ? y : 0});
        }
    }
    if (c.failed()) {
        return std::nullopt;
    }
    return points;
}

Player::BrushRef brushRef(std::uint16_t flags, std::uint32_t value) {
    return {(flags & kSolidColour) != 0, value};
}

bool finite(const Affine& m) {
    return std::isfinite(m.a + m.b + m.c + m.d + m.e + m.f);
}

Unit unitOf(std::uint32_t v) {
    return v <= 6 ? Unit(v) : Unit::World;
}

}  // namespace

EmfPlusStream::EmfPlusStream(MetafileCanvas* canvas, const MetafileLayout& layout, int depth) {
    if (canvas != nullptr) {
        m_player = std::make_unique<Player>(*canvas, layout, depth);
    }
}

EmfPlusStream::~EmfPlusStream() = default;

void EmfPlusStream::comment(const std::uint8_t* data, std::size_t size) {
    BoundedCursor c(data, size);
    while (c.remaining() >= 12 && !m_error) {
        const std::uint16_t type = c.u16le();
        const std::uint16_t flags = c.u16le();
        const std::uint32_t recordSize = c.u32le();
        const std::uint32_t dataSize = c.u32le();
        // The record holds its header and data; a size that does not fit ends the comment.
        if (recordSize < 12 || recordSize - 12 > c.remaining() || dataSize > recordSize - 12) {
            return;
        }
        if (++m_records > kMaxMetafileRecords) {
            m_error = {MetafileError::Kind::TooLarge,
                       "it holds more than " + std::to_string(kMaxMetafileRecords) + " records"};
            return;
        }
        if (m_records % 64 == 0 && playTimeIsUp()) {
            m_error = {MetafileError::Kind::TooLarge, "it takes too long to draw"};
            return;
        }
        record(type, flags, c.here(), dataSize);
        c.skip(recordSize - 12);
    }
}

void EmfPlusStream::record(std::uint16_t type, std::uint16_t flags, const std::uint8_t* data,
                           std::size_t size) {
    // The EMF records after a GetDC are drawn up to the next EMF+ record, whatever it is.
    m_getDc = type == kGetDc;
    if (type == kHeader) {
        m_header = true;
    }
    if (!m_header || m_player == nullptr) {
        return;
    }
    BoundedCursor c(data, size);
    Player& p = *m_player;
    switch (type) {
        case kHeader: {
            c.u32le();  // version
            c.u32le();  // flags
            const double dpiX = c.u32le(), dpiY = c.u32le();
            if (!c.failed()) {
                p.setDpi(dpiX, dpiY);
            }
            break;
        }
        case kObject:
            objectRecord(flags, data, size);
            break;
        case kSetAntiAliasMode:
            p.setAntialias((flags & 1) != 0);
            break;
        case kSetTextRenderingHint: {
            const int hint = flags & 0xFF;
            p.setTextAntialias(hint != 1 && hint != 2);
            break;
        }
        case kSetInterpolationMode:
            p.setSmoothImages((flags & 0xFF) != 5);
            break;
        case kSetPixelOffsetMode: {
            const int mode = flags & 0xFF;
            p.setPixelOffsetHalf(mode == 2 || mode == 4);
            break;
        }
        case kSave:
            p.save(c.u32le());
            break;
        case kRestore:
            p.restore(c.u32le());
            break;
        case kBeginContainer: {
            const RectF dest = readRect(c, false), source = readRect(c, false);
            const std::uint32_t id = c.u32le();
            if (!c.failed() && finite(dest) && finite(source)) {
                p.beginContainer(dest, source, unitOf((flags >> 8) & 0xFF), id);
            }
            break;
        }
        case kBeginContainerNoParams:
            p.beginContainer(c.u32le());
            break;
        case kEndContainer:
            p.endContainer(c.u32le());
            break;
        case kSetWorldTransform: {
            const Affine m = readAffine(c);
            if (!c.failed() && finite(m)) {
                p.setWorld(m);
            }
            break;
        }
        case kResetWorldTransform:
            p.setWorld(Affine{});
            break;
        case kMultiplyWorldTransform: {
            const Affine m = readAffine(c);
            if (!c.failed()) {
                p.multiplyWorld(m, (flags & kClosedOrAfter) != 0);
            }
            break;
        }
        case kTranslateWorldTransform:
        case kScaleWorldTransform: {
            const double x = c.f32le(), y = c.f32le();
            if (!c.failed()) {
                const Affine m = type == kTranslateWorldTransform ? Affine{1, 0, 0, 1, x, y}
                                                                  : Affine{x, 0, 0, y, 0, 0};
                p.multiplyWorld(m, (flags & kClosedOrAfter) != 0);
            }
            break;
        }
        case kRotateWorldTransform: {
            const double angle = c.f32le() * kPi / 180;
            if (!c.failed()) {
                const double cs = std::cos(angle), sn = std::sin(angle);
                p.multiplyWorld({cs, sn, -sn, cs, 0, 0}, (flags & kClosedOrAfter) != 0);
            }
            break;
        }
        case kSetPageTransform: {
            const double scale = c.f32le();
            if (!c.failed()) {
                p.setPage(unitOf(flags & 0xFF), scale);
            }
            break;
        }
        case kResetClip:
            p.resetClip();
            break;
        case kSetClipRect: {
            const RectF r = readRect(c, false);
            if (!c.failed() && finite(r)) {
                p.setClipRect(r, (flags >> 8) & 0xF);
            }
            break;
        }
        case kSetClipPath:
            p.setClipPath(std::uint8_t(flags), (flags >> 8) & 0xF);
            break;
        case kSetClipRegion:
            p.setClipRegion(std::uint8_t(flags), (flags >> 8) & 0xF);
            break;
        case kOffsetClip: {
            const double dx = c.f32le(), dy = c.f32le();
            if (!c.failed()) {
                p.offsetClip(dx, dy);
            }
            break;
        }
        default:
            drawingRecord(type, flags, data, size);
            break;
    }
}

void EmfPlusStream::objectRecord(std::uint16_t flags, const std::uint8_t* data, std::size_t size) {
    const int id = flags & 0xFF;
    const int type = (flags >> 8) & 0x7F;
    BoundedCursor c(data, size);
    // An object too large for one record comes in pieces, each stating the whole size.
    if ((flags & kContinued) != 0) {
        const std::uint32_t total = c.u32le();
        if (c.failed()) {
            return;
        }
        if (m_pending.id != id || m_pending.type != type) {
            m_pending = {id, type, std::min<std::size_t>(total, kMaxEmfPlusObjectBytes), {}};
        }
        const std::size_t room = m_pending.total - m_pending.bytes.size();
        const std::size_t take = std::min(room, c.remaining());
        m_pending.bytes.insert(m_pending.bytes.end(), c.here(), c.here() + take);
        if (m_pending.bytes.size() < m_pending.total) {
            return;
        }
    } else if (m_pending.id == id && m_pending.type == type) {
        const std::size_t take = std::min(m_pending.total - m_pending.bytes.size(), size);
        m_pending.bytes.insert(m_pending.bytes.end(), data, data + take);
    } else {
        m_pending = {};
        m_player->setObject(std::uint8_t(id), readObject(ObjectType(type), data, size));
        return;
    }
    PendingObject whole = std::move(m_pending);
    m_pending = {};
    m_player->setObject(std::uint8_t(id),
                        readObject(ObjectType(type), whole.bytes.data(), whole.bytes.size()));
}

void EmfPlusStream::drawingRecord(std::uint16_t type, std::uint16_t flags, const std::uint8_t* data,
                                  std::size_t size) {
    BoundedCursor c(data, size);
    Player& p = *m_player;
    const bool compressed = (flags & kCompressed) != 0;
    const auto object = std::uint8_t(flags & 0xFF);
    switch (type) {
        case kClear:
            p.clear(argbOf(c.u32le()));
            break;
        case kFillRects:
        case kDrawRects: {
            const std::uint32_t brush = type == kFillRects ? c.u32le() : 0;
            const std::uint32_t count = c.u32le();
            if (c.failed() || count > c.remaining() / (compressed ? 8 : 16)) {
                break;
            }
            for (std::uint32_t i = 0; i < count; ++i) {
                const RectF r = readRect(c, compressed);
                if (!finite(r)) {
                    continue;
                }
                if (type == kFillRects) {
                    p.fill(brushRef(flags, brush), rectanglePath(r));
                } else {
                    p.draw(object, rectanglePath(r));
                }
            }
            break;
        }
        case kFillPolygon: {
            const std::uint32_t brush = c.u32le();
            auto points = readPoints(c, c.u32le(), flags);
            if (points) {
                p.fill(brushRef(flags, brush), polygonPath(*points, true));
            }
            break;
        }
        case kDrawLines: {
            auto points = readPoints(c, c.u32le(), flags);
            if (points) {
                p.draw(object, polygonPath(*points, (flags & kClosedOrAfter) != 0));
            }
            break;
        }
        case kFillEllipse:
        case kDrawEllipse: {
            const std::uint32_t brush = type == kFillEllipse ? c.u32le() : 0;
            const RectF r = readRect(c, compressed);
            if (c.failed() || !finite(r)) {
                break;
            }
            if (type == kFillEllipse) {
                p.fill(brushRef(flags, brush), ellipsePath(r));
            } else {
                p.draw(object, ellipsePath(r));
            }
            break;
        }
        case kFillPie:
        case kDrawPie:
        case kDrawArc: {
            const std::uint32_t brush = type == kFillPie ? c.u32le() : 0;
            const double start = c.f32le(), sweep = c.f32le();
            const RectF r = readRect(c, compressed);
            if (c.failed() || !finite(r)) {
                break;
            }
            const Path path = arcPath(r, start, sweep, type != kDrawArc);
            if (type == kFillPie) {
                p.fill(brushRef(flags, brush), path);
            } else {
                p.draw(object, path);
            }
            break;
        }
        case kFillRegion:
            p.fillRegion(brushRef(flags, c.u32le()), object);
            break;
        case kFillPath: {
            const std::uint32_t brush = c.u32le();
            if (!c.failed()) {
                p.fillPathObject(brushRef(flags, brush), object);
            }
            break;
        }
        case kDrawPath: {
            const std::uint32_t pen = c.u32le();
            if (!c.failed() && pen < 64) {
                p.drawPathObject(std::uint8_t(pen), object);
            }
            break;
        }
        case kFillClosedCurve: {
            const std::uint32_t brush = c.u32le();
            const double tension = c.f32le();
            auto points = readPoints(c, c.u32le(), flags);
            if (points) {
                Path path = curvePath(*points, tension, 0, points->size(), true);
                path.winding = (flags & kClosedOrAfter) != 0;
                p.fill(brushRef(flags, brush), path);
            }
            break;
        }
        case kDrawClosedCurve: {
            const double tension = c.f32le();
            auto points = readPoints(c, c.u32le(), flags);
            if (points) {
                p.draw(object, curvePath(*points, tension, 0, points->size(), true));
            }
            break;
        }
        case kDrawCurve: {
            const double tension = c.f32le();
            const std::uint32_t offset = c.u32le();
            const std::uint32_t segments = c.u32le();
            auto points = readPoints(c, c.u32le(), flags & ~kRelative);
            if (points) {
                p.draw(object, curvePath(*points, tension, offset, segments, false));
            }
            break;
        }
        case kDrawBeziers: {
            auto points = readPoints(c, c.u32le(), flags);
            if (points) {
                p.draw(object, bezierPath(*points));
            }
            break;
        }
        case kDrawImage:
        case kDrawImagePoints: {
            c.u32le();  // image attributes: wrapping and colour keys are not drawn
            const Unit unit = unitOf(c.u32le());
            const RectF source = readRect(c, false);
            std::array<PointF, 3> dest;
            if (type == kDrawImage) {
                const RectF r = readRect(c, compressed);
                dest = {PointF{r.x, r.y}, PointF{r.x + r.width, r.y}, PointF{r.x, r.y + r.height}};
                if (!finite(r)) {
                    break;
                }
            } else {
                const std::uint32_t count = c.u32le();
                auto points = readPoints(c, std::min<std::uint32_t>(count, 3), flags);
                if (count != 3 || !points || points->size() != 3) {
                    break;
                }
                dest = {(*points)[0], (*points)[1], (*points)[2]};
            }
            if (!c.failed() && finite(source)) {
                p.drawImage(object, source, unit, dest);
            }
            break;
        }
        case kDrawString: {
            const std::uint32_t brush = c.u32le();
            const std::uint32_t format = c.u32le();
            const std::uint32_t length = c.u32le();
            const RectF layout = readRect(c, false);
            if (c.failed() || length > c.remaining() / 2 || !finite(layout)) {
                break;
            }
            std::u16string text;
            text.reserve(std::min<std::size_t>(length, kMaxMetafileTextChars));
            for (std::uint32_t i = 0; i < length && i < kMaxMetafileTextChars; ++i) {
                text.push_back(char16_t(c.u16le()));
            }
            p.drawString(brushRef(flags, brush), object, format, text, layout);
            break;
        }
        case kDrawDriverString: {
            constexpr std::uint32_t kCmapLookup = 1, kRealizedAdvance = 4;
            const std::uint32_t brush = c.u32le();
            const std::uint32_t options = c.u32le();
            const std::uint32_t hasMatrix = c.u32le();
            const std::uint32_t count = c.u32le();
            if (c.failed() || count > c.remaining() / 10) {
                break;
            }
            std::u16string glyphs;
            glyphs.reserve(count);
            for (std::uint32_t i = 0; i < count; ++i) {
                glyphs.push_back(char16_t(c.u16le()));
            }
            auto origins = readPoints(c, count, 0);
            if (!origins) {
                break;
            }
            Affine matrix;
            const bool matrixRead = hasMatrix != 0;
            if (matrixRead) {
                matrix = readAffine(c);
            }
            // Glyph indices belong to a font we do not have; only characters are drawn.
            if ((options & kCmapLookup) != 0 && !c.failed()) {
                p.drawGlyphs(brushRef(flags, brush), object, glyphs, *origins,
                             (options & kRealizedAdvance) != 0, matrixRead ? &matrix : nullptr);
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace metafile
