// Macintosh pictures (QuickDraw PICT, versions 1 and 2): the opcodes are read by their known
// lengths (Inside Macintosh: Imaging With QuickDraw, appendix A) and played into a QuickDraw
// port, which draws their shapes, text and bitmaps.
#include <algorithm>
#include <cmath>
#include <utility>

#include "metafile/limits.h"
#include "metafile/metafilereaders.h"
#include "metafile/qdport.h"
#include "workbook/boundedcursor.h"

namespace metafile {

using qd::IntRect;
using qd::Point;
using qd::Verb;
using workbook::BoundedCursor;

namespace {

constexpr std::size_t kFileHeaderBytes = 512;
constexpr std::uint16_t kEndOfPicture = 0x00FF;
constexpr std::uint16_t kHeaderOp = 0x0C00;
constexpr std::uint16_t kCompressedQuickTime = 0x8200;
constexpr std::int16_t kExtendedVersion2 = -2;
constexpr int kFarthestOrigin = 1 << 20;
constexpr int kSrcOr = 1, kSrcXor = 2;
// A QuickTime image description ends its fixed part here; its width, height and data size lie
// at these offsets.
constexpr std::size_t kImageDescriptionBytes = 86;
constexpr std::uint32_t kJpegCodec = 0x6A706567;  // 'jpeg'
constexpr std::uint32_t kPngCodec = 0x706E6720;   // 'png '
constexpr std::uint32_t kTiffCodec = 0x74696666;  // 'tiff'
constexpr std::uint32_t kBmpCodec = 0x57524C45;   // 'WRLE': a BMP's rows, from the bottom
// What a QuickTime picture writes after its image for players without QuickTime: a pen size
// of this height whose width is the length of the stand-in drawing that follows.
constexpr int kQuickTimeStandInMark = 0x00AE;

struct QdRect {
    int top = 0, left = 0, bottom = 0, right = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

QdRect readRect(BoundedCursor& c) {
    QdRect r;
    r.top = c.i16be();
    r.left = c.i16be();
    r.bottom = c.i16be();
    r.right = c.i16be();
    return r;
}

// Unpacks one PackBits row of units (one byte, or two for 16-bit pixels) into out, which it
// fills at most; a short row leaves zeros.
void unpackBits(const std::uint8_t* in, std::size_t size, std::size_t unit,
                std::vector<std::uint8_t>& out) {
    std::size_t i = 0, o = 0;
    while (i < size && o < out.size()) {
        const int n = std::int8_t(in[i++]);
        if (n >= 0) {
            const std::size_t bytes = std::size_t(n + 1) * unit;
            const std::size_t take = std::min({bytes, size - i, out.size() - o});
            std::copy(in + i, in + i + take, out.begin() + std::ptrdiff_t(o));
            i += bytes;
            o += take;
        } else if (n != -128) {
            if (size - i < unit) {
                break;
            }
            for (int k = 0; k < 1 - n && o < out.size(); ++k) {
                for (std::size_t u = 0; u < unit && o < out.size(); ++u) {
                    out[o++] = in[i + u];
                }
            }
            i += unit;
        }
    }
}

struct PixMap {
    bool direct = false;
    bool isPixMap = false;
    int rowBytes = 0;
    QdRect bounds;
    int packType = 0;
    int pixelSize = 1;
    int cmpCount = 1;
    std::vector<std::uint32_t> palette;
};

bool readPixMapHeader(BoundedCursor& c, PixMap& pm) {
    const std::uint16_t rowBytes = c.u16be();
    pm.isPixMap = pm.direct || (rowBytes & 0x8000) != 0;
    pm.rowBytes = rowBytes & 0x3FFF;
    pm.bounds = readRect(c);
    if (pm.isPixMap) {
        c.u16be();  // version
        pm.packType = c.u16be();
        c.skip(4 + 8);  // packed size, resolution
        c.u16be();      // pixel type
        pm.pixelSize = c.u16be();
        pm.cmpCount = c.u16be();
        c.skip(2 + 4 + 4 + 4);  // component size, plane bytes, table, reserved
    }
    if (c.failed()) {
        return false;
    }
    const bool depthKnown = pm.direct ? (pm.pixelSize == 16 || pm.pixelSize == 32)
                                      : (pm.pixelSize == 1 || pm.pixelSize == 2 ||
                                         pm.pixelSize == 4 || pm.pixelSize == 8);
    return depthKnown && pm.bounds.width() > 0 && pm.bounds.height() > 0 &&
           pm.bounds.width() <= kMaxBitmapSide && pm.bounds.height() <= kMaxBitmapSide;
}

bool readColourTable(BoundedCursor& c, PixMap& pm) {
    c.u32be();  // seed
    const std::uint16_t flags = c.u16be();
    const std::uint32_t entries = std::uint32_t(c.u16be()) + 1;
    if (c.failed() || entries > c.remaining() / 8) {
        return false;
    }
    pm.palette.assign(256, 0xFF000000u);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint16_t value = c.u16be();
        const std::uint32_t r = c.u16be() >> 8, g = c.u16be() >> 8, b = c.u16be() >> 8;
        // A device table numbers its entries by position.
        const std::uint32_t index = (flags & 0x8000) != 0 ? i : value;
        if (index < 256) {
            pm.palette[index] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
    return true;
}

// The bytes of one row as stored, and how they unpack.
enum class RowForm { Raw, Packed, Packed16, RawRgb };

// The eight colours of the original QuickDraw, numbered as its colour planes combine.
Rgb oldStyleColour(std::uint32_t value, Rgb otherwise) {
    switch (value) {
        case 33:
            return {0, 0, 0};
        case 30:
            return {255, 255, 255};
        case 205:
            return {221, 8, 6};
        case 341:
            return {31, 183, 20};
        case 409:
            return {0, 0, 212};
        case 273:
            return {2, 171, 234};
        case 137:
            return {242, 8, 132};
        case 69:
            return {252, 243, 5};
        default:
            return otherwise;
    }
}

Rgb rgbOf(std::uint16_t r, std::uint16_t g, std::uint16_t b) {
    return {std::uint8_t(r >> 8), std::uint8_t(g >> 8), std::uint8_t(b >> 8)};
}

// A BITMAPINFOHEADER for rows from the bottom, uncompressed.
std::vector<std::uint8_t> dibHeader(int width, int height, int bits) {
    std::vector<std::uint8_t> b;
    auto le = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            b.push_back(std::uint8_t(v >> (8 * i)));
        }
    };
    le(40, 4);
    le(std::uint32_t(width), 4);
    le(std::uint32_t(height), 4);
    le(1, 2);
    le(std::uint32_t(bits), 2);
    for (int i = 0; i < 6; ++i) {
        le(0, 4);
    }
    return b;
}

class PictReader {
public:
    PictReader(const std::uint8_t* data, std::size_t size, const PictHeader& header,
               const MetafileLayout& layout, MetafileCanvas* canvas, MetafileProbe* probe,
               ReadMode mode)
        : m_c(data, size),
          m_header(header),
          m_layout(layout),
          m_port(mode == ReadMode::Play ? canvas : nullptr, layout),
          m_canvas(canvas),
          m_probe(probe),
          m_mode(mode) {}

    MetafileError read();

private:
    // Each false when the opcode's data cannot be read; the walk then stops.
    bool play(std::uint16_t op);
    bool skipData(std::uint16_t op);
    bool shape(std::uint16_t op);
    bool text(std::uint16_t op);
    bool line(std::uint16_t op);
    bool pattern(qd::Pattern& out);
    bool pixPattern(qd::Pattern& out);
    bool region(qd::Region& out);
    bool polygon(std::vector<Point>& out);
    bool quickTime();
    bool bitmap(std::uint16_t op);
    bool readRows(const PixMap& pm, RowForm form, int height, bool keep,
                  std::vector<std::uint32_t>& pixels);
    // Points, rectangles and regions are kept as stored and moved by the origin's shifts
    // only when drawn, as QuickDraw maps them.
    Point point() {
        const int v = m_c.i16be(), h = m_c.i16be();
        return {h, v};
    }
    IntRect rect() {
        const QdRect r = readRect(m_c);
        return {r.left, r.top, r.right, r.bottom};
    }
    Point shifted(Point p) const { return {p.h - m_origin.h, p.v - m_origin.v}; }
    IntRect shifted(const IntRect& r) const {
        return {r.left - m_origin.h, r.top - m_origin.v, r.right - m_origin.h,
                r.bottom - m_origin.v};
    }
    qd::Region shifted(const qd::Region& r) {
        return r.mapped(1, -m_origin.h, 1, -m_origin.v, m_port.budget());
    }
    void noteDrawing(bool counts = true) {
        if (m_probe != nullptr && counts) {
            m_probe->drew = true;
        }
    }

    BoundedCursor m_c;
    PictHeader m_header;
    MetafileLayout m_layout;
    qd::QdPort m_port;
    MetafileCanvas* m_canvas;
    MetafileProbe* m_probe;
    ReadMode m_mode;
    bool m_drew = false;
    Point m_origin, m_penAt, m_textAt;
    IntRect m_lastRect;
    std::vector<Point> m_lastPolygon;
    qd::Region m_lastRegion;
    std::optional<qd::Region> m_clip;
    // A QuickTime image was just drawn: what it says stands in for it is not.
    bool m_standInFollows = false;
};

bool PictReader::pattern(qd::Pattern& out) {
    qd::Pattern p;
    for (auto& row : p.bits) {
        row = m_c.u8();
    }
    if (m_c.failed()) {
        return false;
    }
    out = p;
    return true;
}

bool PictReader::pixPattern(qd::Pattern& out) {
    const std::uint16_t type = m_c.u16be();
    qd::Pattern p;
    if (!pattern(p)) {
        return false;
    }
    if (type == 2) {
        // A colour QuickDraw dithers from its pattern; drawn as the colour itself.
        const std::uint16_t r = m_c.u16be(), g = m_c.u16be(), b = m_c.u16be();
        p.colour = rgbOf(r, g, b);
        out = p;
        return !m_c.failed();
    }
    if (type != 1) {
        out = p;
        return type == 0;
    }
    PixMap pm;
    if (!readPixMapHeader(m_c, pm) || !readColourTable(m_c, pm)) {
        return false;
    }
    // The tile itself where it is small enough to be a pattern, else its black-and-white
    // version.
    const bool keep = m_mode == ReadMode::Play && pm.bounds.width() <= kMaxPictPatternSide &&
                      pm.bounds.height() <= kMaxPictPatternSide;
    std::vector<std::uint32_t> pixels;
    if (!readRows(pm, pm.rowBytes < 8 ? RowForm::Raw : RowForm::Packed, pm.bounds.height(), keep,
                  pixels)) {
        return false;
    }
    if (keep) {
        auto tile = std::make_shared<ImageSource>();
        tile->pixels = std::make_shared<std::vector<std::uint32_t>>(std::move(pixels));
        tile->pixelsWidth = pm.bounds.width();
        tile->pixelsHeight = pm.bounds.height();
        p.tile = std::move(tile);
    }
    out = p;
    return true;
}

bool PictReader::region(qd::Region& out) {
    BoundedCursor peek(m_c.here(), m_c.remaining());
    const std::size_t size = peek.u16be();
    if (peek.failed() || size < 10 || !m_c.has(size)) {
        return false;
    }
    const bool ok =
        m_mode == ReadMode::Probe || qd::readRegion(m_c.here(), size, out, m_port.budget());
    m_c.skip(size);
    return ok;
}

bool PictReader::polygon(std::vector<Point>& out) {
    const std::size_t size = m_c.u16be();
    if (m_c.failed() || size < 10 || !m_c.has(size - 2)) {
        return false;
    }
    m_c.skip(8);  // the bounding box
    out.clear();
    out.reserve((size - 10) / 4);
    for (std::size_t i = 0; i < (size - 10) / 4; ++i) {
        out.push_back(point());
    }
    m_c.skip((size - 10) % 4);
    return !m_c.failed();
}

bool PictReader::shape(std::uint16_t op) {
    const Verb verb = Verb(op & 7);
    const bool same = (op & 8) != 0;
    const int family = op >> 4;
    noteDrawing(verb != Verb::Erase);
    switch (family) {
        case 3:
        case 4:
        case 5:
            if (!same) {
                m_lastRect = rect();
            }
            if (m_c.failed()) {
                return false;
            }
            if (family == 3) {
                m_port.rect(verb, shifted(m_lastRect));
            } else if (family == 4) {
                m_port.roundRect(verb, shifted(m_lastRect));
            } else {
                m_port.oval(verb, shifted(m_lastRect));
            }
            return true;
        case 6: {
            if (!same) {
                m_lastRect = rect();
            }
            const int start = m_c.i16be(), angle = m_c.i16be();
            if (m_c.failed()) {
                return false;
            }
            m_port.arc(verb, shifted(m_lastRect), start, angle);
            return true;
        }
        case 7: {
            if (!same && !polygon(m_lastPolygon)) {
                return false;
            }
            std::vector<Point> points;
            points.reserve(m_lastPolygon.size());
            for (const Point& p : m_lastPolygon) {
                points.push_back(shifted(p));
            }
            m_port.polygon(verb, points);
            return true;
        }
        default:
            if (!same && !region(m_lastRegion)) {
                return false;
            }
            m_port.region(verb, shifted(m_lastRegion));
            return true;
    }
}

bool PictReader::line(std::uint16_t op) {
    Point to;
    switch (op) {
        case 0x20:
            m_penAt = point();
            to = point();
            break;
        case 0x21:
            to = point();
            break;
        case 0x22: {
            m_penAt = point();
            const int dh = std::int8_t(m_c.u8()), dv = std::int8_t(m_c.u8());
            to = {m_penAt.h + dh, m_penAt.v + dv};
            break;
        }
        default: {
            const int dh = std::int8_t(m_c.u8()), dv = std::int8_t(m_c.u8());
            to = {m_penAt.h + dh, m_penAt.v + dv};
            break;
        }
    }
    if (m_c.failed()) {
        return false;
    }
    noteDrawing();
    m_port.line(shifted(m_penAt), shifted(to));
    m_penAt = to;
    return true;
}

bool PictReader::text(std::uint16_t op) {
    switch (op) {
        case 0x28:
            m_textAt = point();
            break;
        case 0x29:
            m_textAt.h += m_c.u8();
            break;
        case 0x2A:
            m_textAt.v += m_c.u8();
            break;
        default:
            m_textAt.h += m_c.u8();
            m_textAt.v += m_c.u8();
            break;
    }
    const std::size_t count = m_c.u8();
    if (!m_c.has(count)) {
        return false;
    }
    const std::string bytes(reinterpret_cast<const char*>(m_c.here()), count);
    m_c.skip(count);
    noteDrawing();
    m_port.text(shifted(m_textAt), bytes);
    return true;
}

bool PictReader::play(std::uint16_t op) {
    switch (op) {
        case 0x01: {
            qd::Region clip;
            if (!region(clip)) {
                return false;
            }
            m_clip = std::move(clip);
            m_port.setClip(shifted(*m_clip));
            return true;
        }
        case 0x02:
            return pattern(m_port.backPattern);
        case 0x09:
            return pattern(m_port.penPattern);
        case 0x0A:
            return pattern(m_port.fillPattern);
        case 0x12:
            return pixPattern(m_port.backPattern);
        case 0x13:
            return pixPattern(m_port.penPattern);
        case 0x14:
            return pixPattern(m_port.fillPattern);
        case 0x03:
            m_port.textFont = m_c.i16be();
            break;
        case 0x04:
            m_port.textFace = m_c.u8();
            break;
        case 0x05:
            m_port.textMode = m_c.i16be();
            break;
        case 0x07: {
            const int v = m_c.i16be(), h = m_c.i16be();
            m_port.penSize = {h, v};
            break;
        }
        case 0x08:
            m_port.penMode = m_c.i16be();
            break;
        case 0x0B: {
            const int v = m_c.i16be(), h = m_c.i16be();
            m_port.ovalSize = {h, v};
            break;
        }
        case 0x0C: {
            // Later coordinates are in a system moved by this much, and so is the clip.
            const int dh = m_c.i16be(), dv = m_c.i16be();
            // Shifted far enough, everything lies off the picture; no further.
            m_origin = {std::clamp(m_origin.h + dh, -kFarthestOrigin, kFarthestOrigin),
                        std::clamp(m_origin.v + dv, -kFarthestOrigin, kFarthestOrigin)};
            if (m_clip && !m_c.failed()) {
                m_port.setClip(shifted(*m_clip));
            }
            break;
        }
        case 0x0D:
            m_port.textSize = m_c.i16be();
            break;
        case 0x0E:
            m_port.fore = oldStyleColour(m_c.u32be(), m_port.fore);
            break;
        case 0x0F:
            m_port.back = oldStyleColour(m_c.u32be(), m_port.back);
            break;
        case 0x1A:
        case 0x1B: {
            const std::uint16_t r = m_c.u16be(), g = m_c.u16be(), b = m_c.u16be();
            (op == 0x1A ? m_port.fore : m_port.back) = rgbOf(r, g, b);
            break;
        }
        case 0x20:
        case 0x21:
        case 0x22:
        case 0x23:
            return line(op);
        case 0x28:
        case 0x29:
        case 0x2A:
        case 0x2B:
            return text(op);
        case 0x2C: {
            // Font name: the old font number it stands for, then the name.
            const std::size_t length = m_c.u16be();
            if (!m_c.has(length)) {
                return false;
            }
            BoundedCursor f(m_c.here(), length);
            const int id = f.i16be();
            const std::size_t nameLength = f.u8();
            if (!f.failed() && f.has(nameLength)) {
                m_port.fontNames[id] =
                    std::string(reinterpret_cast<const char*>(f.here()), nameLength);
            }
            m_c.skip(length);
            break;
        }
        case 0x90:
        case 0x91:
        case 0x98:
        case 0x99:
        case 0x9A:
        case 0x9B:
            return bitmap(op);
        case kHeaderOp:
            m_c.skip(24);  // read with the header
            break;
        case kCompressedQuickTime:
            return quickTime();
        default:
            if (op >= 0x30 && op < 0x90 && (op & 7) <= 4) {
                return shape(op);
            }
            return skipData(op);
    }
    return !m_c.failed();
}

// Skips the data of an opcode that is not drawn; false when its length cannot be known.
bool PictReader::skipData(std::uint16_t op) {
    auto word = [&] { return std::size_t(m_c.u16be()); };
    auto peekWord = [&](std::size_t at) {
        BoundedCursor p(m_c.here(), m_c.remaining());
        p.skip(at);
        return std::size_t(p.u16be());
    };
    std::size_t n = 0;
    if (op >= 0x8100) {
        n = m_c.u32be();
    } else if (op >= 0x8000) {
        n = 0;
    } else if (op >= 0x0100) {
        n = std::size_t(op >> 8) * 2;
    } else if (op >= 0xD0 && op <= 0xFE) {
        n = m_c.u32be();
    } else if (op >= 0xB0 && op <= 0xCF) {
        n = 0;
    } else if ((op >= 0x75 && op <= 0x77) || (op >= 0x85 && op <= 0x87)) {
        // Reserved like polygons and regions: their data starts with its own size.
        n = peekWord(0);
        if (n < 2) {
            return false;
        }
    } else if ((op >= 0x24 && op <= 0x27) || (op >= 0x2D && op <= 0x2F) ||
               (op >= 0x92 && op <= 0x97) || (op >= 0x9C && op <= 0x9F) ||
               (op >= 0xA2 && op <= 0xAF)) {
        n = word();
    } else {
        switch (op) {
            case 0x00:
            case 0x17:
            case 0x18:
            case 0x19:
            case 0x1C:
            case 0x1E:
                n = 0;
                break;
            case 0x15:
            case 0x16:
            case 0xA0:
                n = 2;
                break;
            case 0x06:
                n = 4;
                break;
            case 0x1D:
            case 0x1F:
                n = 6;
                break;
            case 0x10:
                n = 8;
                break;
            case 0x11:
                n = m_header.version2 ? 2 : 1;
                break;
            case 0xA1:
                n = 4 + peekWord(2);
                break;
            default:
                if (op >= 0x30 && op <= 0x67) {
                    // Reserved like rectangles, rounded rectangles, ovals and arcs: eight bytes
                    // (twelve like an arc), none like the "same shape" forms.
                    const bool same = (op & 0x0F) >= 8;
                    n = same ? 0 : (op >= 0x60 ? 12 : 8);
                } else if (op >= 0x68 && op <= 0x6F) {
                    n = 4;
                } else if ((op >= 0x78 && op <= 0x7F) || (op >= 0x88 && op <= 0x8F)) {
                    n = 0;
                } else {
                    return false;
                }
                break;
        }
    }
    m_c.skip(n);
    return !m_c.failed();
}

bool PictReader::quickTime() {
    // QuickTime's compressed picture: a matrix that places the image, an optional matte and
    // mask, then the image description and the compressed image.
    const std::size_t length = m_c.u32be();
    if (m_c.failed() || !m_c.has(length)) {
        return false;
    }
    BoundedCursor q(m_c.here(), length);
    m_c.skip(length);
    q.u16be();  // version
    double matrix[9];
    for (double& v : matrix) {
        v = q.i32be();
    }
    const std::size_t matteSize = q.u32be();
    q.skip(8 + 2);  // matte rectangle, transfer mode
    const QdRect src = readRect(q);
    q.u32be();  // accuracy
    const std::size_t maskSize = q.u32be();
    if (matteSize > 0) {
        // The matte's own image description, then its data.
        BoundedCursor peek(q.here(), q.remaining());
        q.skip(peek.u32be());
        q.skip(matteSize);
    }
    q.skip(maskSize);
    const std::size_t describedAt = q.position();
    const std::size_t descriptionSize = q.u32be();
    const std::uint32_t codec = q.u32be();
    q.skip(24);
    const int width = q.u16be(), height = q.u16be();
    q.skip(8);
    std::size_t dataSize = q.u32be();
    q.skip(2 + 32);  // frame count, name
    const int depth = q.i16be();
    if (q.failed() || descriptionSize < kImageDescriptionBytes) {
        return true;  // nothing this player can draw, but the walk goes on
    }
    q.seek(describedAt + descriptionSize);
    const bool known = codec == kJpegCodec || codec == kPngCodec || codec == kTiffCodec ||
                       (codec == kBmpCodec && (depth == 24 || depth == 32));
    if (q.failed() || !known || width <= 0 || height <= 0 || width > kMaxBitmapSide ||
        height > kMaxBitmapSide) {
        return true;  // its stand-in drawing follows
    }
    if (dataSize == 0 || dataSize > q.remaining()) {
        dataSize = q.remaining();
    }
    if (dataSize == 0) {
        return true;
    }
    const std::uint64_t rowBytes = (std::uint64_t(width) * std::uint64_t(depth) + 31) / 32 * 4;
    if (codec == kBmpCodec && rowBytes * std::uint64_t(height) > dataSize) {
        return true;
    }
    // Fixed-point 16.16, with the third column in 2.30 (perspective, which pictures do not use).
    const double a = matrix[0] / 65536, b = matrix[1] / 65536, c = matrix[3] / 65536,
                 d = matrix[4] / 65536, tx = matrix[6] / 65536, ty = matrix[7] / 65536;
    auto place = [&](double x, double y) {
        return PointF{a * x + c * y + tx - m_origin.h, b * x + d * y + ty - m_origin.v};
    };
    // The part of the image drawn; the whole of it where the source rectangle misses it.
    int x0 = std::clamp(src.left, 0, width), y0 = std::clamp(src.top, 0, height);
    int x1 = std::clamp(src.right, 0, width), y1 = std::clamp(src.bottom, 0, height);
    if (x1 <= x0 || y1 <= y0) {
        x0 = y0 = 0;
        x1 = width;
        y1 = height;
    }
    const PointF topLeft = place(x0, y0), topRight = place(x1, y0), bottomLeft = place(x0, y1);
    const PointF bottomRight = place(x1, y1);
    if (m_probe != nullptr) {
        if (!m_probe->drew) {
            m_probe->firstIsBitmap = true;
            m_probe->firstBitmapDest = {
                std::min(topLeft.x, bottomRight.x), std::min(topLeft.y, bottomRight.y),
                std::max(topLeft.x, bottomRight.x), std::max(topLeft.y, bottomRight.y)};
            m_probe->firstBitmapWidth = x1 - x0;
            m_probe->firstBitmapHeight = y1 - y0;
        }
        return false;  // the probe knows what it needs
    }
    m_drew = true;
    if (m_canvas == nullptr) {
        return true;
    }
    BitmapDraw draw;
    auto image = std::make_shared<ImageSource>();
    if (codec == kBmpCodec) {
        auto dib = std::make_shared<std::vector<std::uint8_t>>(dibHeader(width, height, depth));
        dib->insert(dib->end(), q.here(), q.here() + rowBytes * std::uint64_t(height));
        image->dib = std::move(dib);
    } else {
        image->encoded = std::make_shared<std::vector<std::uint8_t>>(q.here(), q.here() + dataSize);
    }
    draw.image = std::move(image);
    draw.srcX = x0;
    draw.srcY = y0;
    draw.srcWidth = x1 - x0;
    draw.srcHeight = y1 - y0;
    draw.topLeft = m_port.toPicture(topLeft.x, topLeft.y);
    draw.topRight = m_port.toPicture(topRight.x, topRight.y);
    draw.bottomLeft = m_port.toPicture(bottomLeft.x, bottomLeft.y);
    m_canvas->drawBitmap(draw);
    m_standInFollows = true;
    return true;
}

bool PictReader::readRows(const PixMap& pm, RowForm form, int height, bool keep,
                          std::vector<std::uint32_t>& pixels) {
    const int width = pm.bounds.width();
    // Bytes a row needs once unpacked; 32-bit pixels packed by component lie in planes.
    std::size_t needed = 0;
    if (!pm.direct) {
        needed = (std::size_t(width) * std::size_t(pm.pixelSize) + 7) / 8;
    } else if (form == RowForm::RawRgb) {
        needed = std::size_t(width) * 3;
    } else if (pm.pixelSize == 32 && form == RowForm::Packed) {
        needed = std::size_t(width) * std::size_t(std::clamp(pm.cmpCount, 3, 4));
    } else {
        needed = std::size_t(width) * std::size_t(pm.pixelSize / 8);
    }
    const bool planar = pm.direct && pm.pixelSize == 32 && form == RowForm::Packed;
    const std::size_t rowSize =
        form == RowForm::RawRgb || planar ? needed : std::size_t(pm.rowBytes);
    if (rowSize < needed || rowSize == 0) {
        return false;
    }
    // Every stored row takes at least a byte; a height the data cannot hold is refused before
    // any pixel is allocated.
    const std::size_t leastPerRow =
        form == RowForm::Raw || form == RowForm::RawRgb ? rowSize : (pm.rowBytes > 250 ? 2 : 1);
    if (std::size_t(height) > m_c.remaining() / leastPerRow) {
        return false;
    }
    if (keep) {
        if (std::int64_t(width) * height > kMaxPicturePixels) {
            return false;
        }
        pixels.assign(std::size_t(width) * std::size_t(height), 0xFF000000u);
    }
    std::vector<std::uint8_t> row(rowSize);
    for (int y = 0; y < height; ++y) {
        if (form == RowForm::Raw || form == RowForm::RawRgb) {
            if (!m_c.has(rowSize)) {
                return false;
            }
            std::copy(m_c.here(), m_c.here() + rowSize, row.begin());
            m_c.skip(rowSize);
        } else {
            const std::size_t count = pm.rowBytes > 250 ? m_c.u16be() : m_c.u8();
            if (!m_c.has(count)) {
                return false;
            }
            std::fill(row.begin(), row.end(), 0);
            unpackBits(m_c.here(), count, form == RowForm::Packed16 ? 2 : 1, row);
            m_c.skip(count);
        }
        if (!keep) {
            continue;
        }
        std::uint32_t* target = pixels.data() + std::size_t(y) * std::size_t(width);
        for (int x = 0; x < width; ++x) {
            std::uint32_t argb = 0xFF000000u;
            if (!pm.direct) {
                const int bits = pm.pixelSize;
                const std::size_t bit = std::size_t(x) * std::size_t(bits);
                const int shift = 8 - bits - int(bit % 8);
                const std::uint32_t index = (row[bit / 8] >> shift) & ((1u << bits) - 1);
                if (pm.isPixMap) {
                    argb = pm.palette[index];
                } else {
                    // A bitmap takes the port's colours: set bits the foreground.
                    const Rgb c = index != 0 ? m_port.fore : m_port.back;
                    argb = 0xFF000000u | std::uint32_t(c.r) << 16 | std::uint32_t(c.g) << 8 | c.b;
                }
            } else if (pm.pixelSize == 16) {
                const std::uint32_t v =
                    std::uint32_t(row[2 * std::size_t(x)] << 8) | row[2 * std::size_t(x) + 1];
                auto expand = [](std::uint32_t five) { return (five << 3) | (five >> 2); };
                argb |= expand((v >> 10) & 31) << 16 | expand((v >> 5) & 31) << 8 | expand(v & 31);
            } else if (form == RowForm::RawRgb) {
                const std::uint8_t* p = row.data() + 3 * std::size_t(x);
                argb |= std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
            } else if (form == RowForm::Packed) {
                // Components lie in planes: alpha (when four), red, green, blue.
                const std::size_t plane = std::size_t(width);
                const std::size_t first = pm.cmpCount >= 4 ? plane : 0;
                argb |= std::uint32_t(row[first + std::size_t(x)]) << 16 |
                        std::uint32_t(row[first + plane + std::size_t(x)]) << 8 |
                        row[first + 2 * plane + std::size_t(x)];
            } else {
                const std::uint8_t* p = row.data() + 4 * std::size_t(x);
                argb |= std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
            }
            target[x] = argb;
        }
    }
    return true;
}

bool PictReader::bitmap(std::uint16_t op) {
    PixMap pm;
    pm.direct = op == 0x9A || op == 0x9B;
    if (pm.direct) {
        m_c.u32be();  // base address
    }
    if (!readPixMapHeader(m_c, pm)) {
        return false;
    }
    if (pm.isPixMap && !pm.direct && !readColourTable(m_c, pm)) {
        return false;
    }
    if (!pm.isPixMap) {
        pm.pixelSize = 1;
    }
    const QdRect src = readRect(m_c);
    const IntRect dst = shifted(rect());
    const int mode = m_c.i16be();
    qd::Region mask;
    const bool masked = op == 0x91 || op == 0x99 || op == 0x9B;
    if (masked && !region(mask)) {
        return false;
    }
    mask = shifted(mask);
    if (m_c.failed()) {
        return false;
    }
    // The part of the bitmap drawn, clipped to the bitmap.
    const int x0 = std::clamp(src.left - pm.bounds.left, 0, pm.bounds.width());
    const int y0 = std::clamp(src.top - pm.bounds.top, 0, pm.bounds.height());
    const int x1 = std::clamp(src.right - pm.bounds.left, 0, pm.bounds.width());
    const int y1 = std::clamp(src.bottom - pm.bounds.top, 0, pm.bounds.height());
    if (m_probe != nullptr) {
        if (!m_probe->drew && x1 > x0 && y1 > y0 && !dst.empty()) {
            m_probe->firstIsBitmap = true;
            m_probe->firstBitmapDest = {double(dst.left), double(dst.top), double(dst.right),
                                        double(dst.bottom)};
            m_probe->firstBitmapWidth = x1 - x0;
            m_probe->firstBitmapHeight = y1 - y0;
            m_probe->include({double(dst.left), double(dst.top)});
            m_probe->include({double(dst.right), double(dst.bottom)});
        }
        return false;  // the probe knows what it needs
    }
    RowForm form = RowForm::Packed;
    if (op == 0x90 || op == 0x91 || pm.rowBytes < 8 || pm.packType == 1) {
        form = RowForm::Raw;
    } else if (pm.direct && pm.pixelSize == 32 && pm.packType == 2) {
        form = RowForm::RawRgb;
    } else if (pm.direct && pm.pixelSize == 16) {
        form = RowForm::Packed16;
    }
    auto pixels = std::make_shared<std::vector<std::uint32_t>>();
    if (!readRows(pm, form, pm.bounds.height(), m_mode == ReadMode::Play, *pixels)) {
        return false;
    }
    if (x1 <= x0 || y1 <= y0 || dst.empty()) {
        return true;
    }
    BitmapDraw draw;
    draw.pixels = std::move(pixels);
    draw.pixelsWidth = pm.bounds.width();
    draw.pixelsHeight = pm.bounds.height();
    draw.srcX = x0;
    draw.srcY = y0;
    draw.srcWidth = x1 - x0;
    draw.srcHeight = y1 - y0;
    draw.topLeft = m_port.toPicture(dst.left, dst.top);
    draw.topRight = m_port.toPicture(dst.right, dst.top);
    draw.bottomLeft = m_port.toPicture(dst.left, dst.bottom);
    // A black-and-white bitmap drawn in srcOr leaves the page where its bits are clear; srcXor
    // inverts where they are set.
    if (!pm.isPixMap && (mode & 7) == kSrcOr) {
        draw.mix = Mix::And;
    } else if (!pm.isPixMap && (mode & 7) == kSrcXor) {
        draw.mix = Mix::Xor;
    }
    m_drew = true;
    if (m_canvas != nullptr) {
        if (masked) {
            m_port.beginMask(mask);
        }
        m_canvas->drawBitmap(draw);
        if (masked) {
            m_port.endMask();
        }
    }
    return true;
}

MetafileError PictReader::read() {
    MetafileError error;
    RecordBudget budget;
    m_c.seek(m_header.opcodesAt);
    while (!m_c.failed()) {
        if (!budget.next(error)) {
            return error;
        }
        if (m_header.version2 && (m_c.position() - m_header.opcodesAt) % 2 != 0) {
            m_c.skip(1);
        }
        const std::uint16_t op = m_header.version2 ? m_c.u16be() : m_c.u8();
        if (m_c.failed() || op == kEndOfPicture) {
            break;
        }
        if (std::exchange(m_standInFollows, false) && op == 0x0007) {
            BoundedCursor peek(m_c.here(), m_c.remaining());
            const int v = peek.i16be(), h = peek.u16be();
            if (!peek.failed() && v == kQuickTimeStandInMark && m_c.has(4 + std::size_t(h))) {
                m_c.skip(4 + std::size_t(h));
                continue;
            }
        }
        const bool ok = play(op);
        if (m_port.spent()) {
            return {MetafileError::Kind::TooLarge, m_port.budget().timedOut()
                                                       ? "it takes too long to draw"
                                                       : "its shapes take too much work to draw"};
        }
        if (!ok) {
            break;
        }
    }
    if (m_mode == ReadMode::Play && !m_drew && !m_port.drew()) {
        return {MetafileError::Kind::NothingToDraw, ""};
    }
    return error;
}

}  // namespace

std::optional<PictHeader> readPictHeader(const std::uint8_t* data, std::size_t size) {
    // Workbooks keep a picture without the 512 bytes that a PICT file starts with; a file may
    // still come with them.
    for (std::size_t start : {std::size_t(0), kFileHeaderBytes}) {
        BoundedCursor c(data, size);
        c.seek(start);
        c.u16be();  // size, meaningless beyond 32 KB
        PictHeader h;
        const QdRect frame = readRect(c);
        h.frame = {double(frame.left), double(frame.top), double(frame.right),
                   double(frame.bottom)};
        const std::uint16_t version = c.u16be();
        if (version == 0x1101) {
            h.opcodesAt = start + 12;
        } else if (version == 0x0011 && c.u16be() == 0x02FF) {
            h.version2 = true;
            h.opcodesAt = start + 14;
        } else {
            continue;
        }
        if (c.failed()) {
            continue;
        }
        // An extended version 2 header gives the rectangle and resolution the opcodes use.
        if (h.version2 && c.u16be() == kHeaderOp && c.i16be() == kExtendedVersion2) {
            c.u16be();  // reserved
            const double hRes = c.i32be() / 65536.0, vRes = c.i32be() / 65536.0;
            const QdRect source = readRect(c);
            if (!c.failed() && hRes > 0 && vRes > 0 && source.width() > 0 && source.height() > 0) {
                h.extended = true;
                h.hRes = hRes;
                h.vRes = vRes;
                h.source = {double(source.left), double(source.top), double(source.right),
                            double(source.bottom)};
            }
        }
        return h;
    }
    return std::nullopt;
}

MetafileError readPictOpcodes(const std::uint8_t* data, std::size_t size, const PictHeader& header,
                              const MetafileLayout& layout, MetafileCanvas* canvas,
                              MetafileProbe* probe, ReadMode mode) {
    PictReader reader(data, size, header, layout, canvas, probe, mode);
    return reader.read();
}

}  // namespace metafile
