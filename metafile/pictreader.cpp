// Macintosh pictures (QuickDraw PICT, versions 1 and 2): the opcodes are walked by their known
// lengths and the bitmap opcodes drawn (Inside Macintosh: Imaging With QuickDraw, appendix A).
#include <algorithm>

#include "workbook/boundedcursor.h"
#include "metafile/limits.h"
#include "metafile/metafilereaders.h"

namespace metafile {

using workbook::BoundedCursor;

namespace {

constexpr std::size_t kFileHeaderBytes = 512;
constexpr std::uint16_t kEndOfPicture = 0x00FF;
constexpr std::uint16_t kHeaderOp = 0x0C00;

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

class PictReader {
public:
    PictReader(const std::uint8_t* data, std::size_t size, const PictHeader& header,
               const MetafileLayout& layout, MetafileCanvas* canvas, MetafileProbe* probe,
               ReadMode mode)
        : m_c(data, size),
          m_header(header),
          m_layout(layout),
          m_canvas(canvas),
          m_probe(probe),
          m_mode(mode) {}

    MetafileError read();

private:
    bool skipData(std::uint16_t op);
    bool skipPixPat();
    // False when the bitmap cannot be read; the walk then stops.
    bool bitmap(std::uint16_t op);
    bool readRows(const PixMap& pm, RowForm form, int height, std::vector<std::uint32_t>& pixels);
    PointF out(double x, double y) const {
        const double sx = m_layout.refWidth != 0 ? m_layout.outWidth / m_layout.refWidth : 1;
        const double sy = m_layout.refHeight != 0 ? m_layout.outHeight / m_layout.refHeight : 1;
        return {m_layout.outX + (x - m_layout.refX) * sx, m_layout.outY + (y - m_layout.refY) * sy};
    }

    BoundedCursor m_c;
    PictHeader m_header;
    MetafileLayout m_layout;
    MetafileCanvas* m_canvas;
    MetafileProbe* m_probe;
    ReadMode m_mode;
    bool m_drew = false;
};

bool PictReader::skipPixPat() {
    const std::uint16_t type = m_c.u16be();
    m_c.skip(8);  // the black-and-white pattern
    if (type == 2) {
        m_c.skip(6);  // an RGB colour to dither
        return !m_c.failed();
    }
    if (type != 1) {
        return !m_c.failed() && type == 0;
    }
    PixMap pm;
    if (!readPixMapHeader(m_c, pm) || !readColourTable(m_c, pm)) {
        return false;
    }
    std::vector<std::uint32_t> ignored;
    return readRows(pm, pm.rowBytes < 8 ? RowForm::Raw : RowForm::Packed, pm.bounds.height(),
                    ignored);
}

// Skips the data of an opcode that is not drawn; false when its length cannot be known.
bool PictReader::skipData(std::uint16_t op) {
    auto word = [&] { return std::size_t(m_c.u16be()); };
    auto peekWord = [&](std::size_t at) {
        BoundedCursor p(m_c.here(), m_c.remaining());
        p.skip(at);
        return std::size_t(p.u16be());
    };
    auto peekByte = [&](std::size_t at) {
        BoundedCursor p(m_c.here(), m_c.remaining());
        p.skip(at);
        return std::size_t(p.u8());
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
    } else if (op == 0x12 || op == 0x13 || op == 0x14) {
        return skipPixPat();
    } else if (op == 0x01 || (op >= 0x70 && op <= 0x77) || (op >= 0x80 && op <= 0x87)) {
        // Regions and polygons start with their own size, which counts itself.
        n = peekWord(0);
        if (n < 2) {
            return false;
        }
    } else if ((op >= 0x24 && op <= 0x27) || (op >= 0x2C && op <= 0x2F) ||
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
            case 0x04:
                n = 1;
                break;
            case 0x03:
            case 0x05:
            case 0x08:
            case 0x0D:
            case 0x15:
            case 0x16:
            case 0x23:
            case 0xA0:
                n = 2;
                break;
            case 0x06:
            case 0x07:
            case 0x0B:
            case 0x0C:
            case 0x0E:
            case 0x0F:
            case 0x21:
                n = 4;
                break;
            case 0x1A:
            case 0x1B:
            case 0x1D:
            case 0x1F:
            case 0x22:
                n = 6;
                break;
            case 0x02:
            case 0x09:
            case 0x0A:
            case 0x10:
            case 0x20:
                n = 8;
                break;
            case 0x11:
                n = m_header.version2 ? 2 : 1;
                break;
            case 0x28:
                n = 4 + 1 + peekByte(4);
                break;
            case 0x29:
            case 0x2A:
                n = 1 + 1 + peekByte(1);
                break;
            case 0x2B:
                n = 2 + 1 + peekByte(2);
                break;
            case 0xA1:
                n = 4 + peekWord(2);
                break;
            default:
                if (op >= 0x30 && op <= 0x67) {
                    // Rectangles, rounded rectangles, ovals and arcs: eight bytes (twelve for an
                    // arc) for the shape, none for the "same shape" forms.
                    const int low = op & 0x0F;
                    const bool same = low >= 8;
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

bool PictReader::readRows(const PixMap& pm, RowForm form, int height,
                          std::vector<std::uint32_t>& pixels) {
    const int width = pm.bounds.width();
    const bool keep = m_mode == ReadMode::Play;
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
                    argb = index != 0 ? 0xFF000000u : 0xFFFFFFFFu;
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
    const QdRect dst = readRect(m_c);
    m_c.u16be();  // transfer mode
    if (op == 0x91 || op == 0x99 || op == 0x9B) {
        const std::size_t regionSize = m_c.u16be();
        if (regionSize < 2) {
            return false;
        }
        m_c.skip(regionSize - 2);
    }
    if (m_c.failed()) {
        return false;
    }
    // The part of the bitmap drawn, clipped to the bitmap.
    const int x0 = std::clamp(src.left - pm.bounds.left, 0, pm.bounds.width());
    const int y0 = std::clamp(src.top - pm.bounds.top, 0, pm.bounds.height());
    const int x1 = std::clamp(src.right - pm.bounds.left, 0, pm.bounds.width());
    const int y1 = std::clamp(src.bottom - pm.bounds.top, 0, pm.bounds.height());
    if (m_probe != nullptr) {
        if (!m_probe->drew && x1 > x0 && y1 > y0 && dst.width() > 0 && dst.height() > 0) {
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
    if (!readRows(pm, form, pm.bounds.height(), *pixels)) {
        return false;
    }
    if (x1 <= x0 || y1 <= y0 || dst.width() <= 0 || dst.height() <= 0) {
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
    draw.topLeft = out(dst.left, dst.top);
    draw.topRight = out(dst.right, dst.top);
    draw.bottomLeft = out(dst.left, dst.bottom);
    m_drew = true;
    if (m_canvas != nullptr) {
        m_canvas->drawBitmap(draw);
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
        const bool bitmapOp =
            op == 0x90 || op == 0x91 || op == 0x98 || op == 0x99 || op == 0x9A || op == 0x9B;
        if (bitmapOp ? !bitmap(op)
                     : (op == kHeaderOp ? (m_c.skip(24), m_c.failed()) : !skipData(op))) {
            break;
        }
    }
    if (m_mode == ReadMode::Play && !m_drew) {
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
        if (!c.failed()) {
            return h;
        }
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
