// The serialised graphics objects of EMF+ ([MS-EMFPLUS] 2.2.1 and the structures of 2.2.2 they
// hold), decoded into the player's model. Every count is checked against the bytes that hold it.
#include <algorithm>
#include <cmath>

#include "metafile/emfplus.h"
#include "metafile/limits.h"
#include "metafile/metafilereaders.h"
#include "workbook/boundedcursor.h"
#include "workbook/imageformat.h"

namespace metafile::emfplus {

using workbook::BoundedCursor;

namespace {

constexpr std::uint32_t kBrushDataPath = 0x1, kBrushDataTransform = 0x2,
                        kBrushDataPresetColors = 0x4, kBrushDataBlendFactorsH = 0x8,
                        kBrushDataBlendFactorsV = 0x10, kBrushDataFocusScales = 0x40;
constexpr std::uint32_t kPathRelative = 0x0800, kPathRle = 0x1000, kPathWinding = 0x2000,
                        kPathCompressed = 0x4000;
constexpr int kMaxRegionDepth = 64;
constexpr std::size_t kPlaceableHeaderBytes = 22;

double finiteOr(double v, double fallback) {
    return std::isfinite(v) ? v : fallback;
}

Affine readMatrix(BoundedCursor& c) {
    const Affine m = readAffine(c);
    if (!std::isfinite(m.a + m.b + m.c + m.d + m.e + m.f)) {
        return Affine{};
    }
    return m;
}

PointF readPointF(BoundedCursor& c) {
    const double x = c.f32le();
    return {x, double(c.f32le())};
}

// EmfPlusInteger7 or EmfPlusInteger15, told apart by the top bit of their first byte.
int readRelative(BoundedCursor& c) {
    const std::uint8_t first = c.u8();
    if ((first & 0x80) == 0) {
        return (first & 0x40) != 0 ? int(first) - 0x80 : int(first);
    }
    const int value = ((first & 0x7F) << 8) | c.u8();
    return (value & 0x4000) != 0 ? value - 0x8000 : value;
}

// A count of items of at least each bytes that must fit in what remains.
bool fits(const BoundedCursor& c, std::uint64_t count, std::uint64_t each) {
    return !c.failed() && count <= c.remaining() / std::max<std::uint64_t>(each, 1);
}

std::optional<std::vector<std::pair<double, double>>> readFactors(BoundedCursor& c) {
    const std::uint32_t count = c.u32le();
    if (!fits(c, count, 8)) {
        return std::nullopt;
    }
    std::vector<std::pair<double, double>> out(count);
    for (auto& f : out) {
        f.first = c.f32le();
    }
    for (auto& f : out) {
        f.second = c.f32le();
    }
    return out;
}

std::optional<std::vector<BlendStop>> readBlendColours(BoundedCursor& c) {
    const std::uint32_t count = c.u32le();
    if (!fits(c, count, 8)) {
        return std::nullopt;
    }
    std::vector<BlendStop> out(count);
    for (auto& s : out) {
        s.position = c.f32le();
    }
    for (auto& s : out) {
        s.colour = argbOf(c.u32le());
    }
    return out;
}

std::optional<Path> readPathFrom(BoundedCursor& c) {
    c.u32le();  // version
    const std::uint32_t count = c.u32le();
    const std::uint32_t flags = c.u32le();
    const bool relative = (flags & kPathRelative) != 0;
    const bool compressed = (flags & kPathCompressed) != 0;
    const std::size_t each = relative ? 2 : compressed ? 4 : 8;
    if (!fits(c, count, each) || count > kMaxMetafilePathPoints) {
        return std::nullopt;
    }
    Path path;
    path.winding = (flags & kPathWinding) != 0;
    path.points.reserve(count);
    PointF at;
    for (std::uint32_t i = 0; i < count && !c.failed(); ++i) {
        if (relative) {
            const int dx = readRelative(c);
            at = {at.x + dx, at.y + readRelative(c)};
            path.points.push_back(at);
        } else if (compressed) {
            const double x = c.i16le();
            path.points.push_back({x, double(c.i16le())});
        } else {
            path.points.push_back(readPointF(c));
        }
    }
    path.types.reserve(count);
    if ((flags & kPathRle) != 0) {
        while (path.types.size() < count && !c.failed()) {
            const std::uint8_t run = c.u8();
            const std::uint8_t type = c.u8();
            const std::size_t n = std::min<std::size_t>(run & 0x3F, count - path.types.size());
            const std::uint8_t value =
                (run & 0x80) != 0 ? std::uint8_t((type & ~kPointTypeMask) | kPointBezier) : type;
            if (n == 0) {
                return std::nullopt;
            }
            path.types.insert(path.types.end(), n, value);
        }
    } else if (c.has(count)) {
        path.types.assign(c.here(), c.here() + count);
        c.skip(count);
    } else {
        c.fail();
    }
    if (c.failed() || path.types.size() != count) {
        return std::nullopt;
    }
    for (PointF& p : path.points) {
        p = {finiteOr(p.x, 0), finiteOr(p.y, 0)};
    }
    return path;
}

std::optional<Image> readImageFrom(BoundedCursor& c);

std::optional<Brush> readBrushFrom(BoundedCursor& c) {
    c.u32le();  // version
    const std::uint32_t type = c.u32le();
    Brush brush;
    switch (type) {
        case 0:
            brush.colour = argbOf(c.u32le());
            break;
        case 1:
            brush.kind = Brush::Kind::Hatch;
            brush.hatch = int(c.u32le());
            brush.colour = argbOf(c.u32le());
            brush.other = argbOf(c.u32le());
            break;
        case 2: {
            brush.kind = Brush::Kind::Texture;
            const std::uint32_t flags = c.u32le();
            brush.wrap = c.i32le();
            if ((flags & kBrushDataTransform) != 0) {
                brush.transform = readMatrix(c);
            }
            auto image = readImageFrom(c);
            if (!image) {
                return std::nullopt;
            }
            brush.texture = std::make_shared<const Image>(std::move(*image));
            break;
        }
        case 3: {
            brush.kind = Brush::Kind::PathGradient;
            const std::uint32_t flags = c.u32le();
            brush.wrap = c.i32le();
            brush.colour = argbOf(c.u32le());
            brush.centre = readPointF(c);
            const std::uint32_t surround = c.u32le();
            if (!fits(c, surround, 4)) {
                return std::nullopt;
            }
            for (std::uint32_t i = 0; i < surround; ++i) {
                brush.surround.push_back(argbOf(c.u32le()));
            }
            if ((flags & kBrushDataPath) != 0) {
                const std::uint32_t bytes = c.u32le();
                if (!c.has(bytes)) {
                    return std::nullopt;
                }
                BoundedCursor pathBytes(c.here(), bytes);
                auto boundary = readPathFrom(pathBytes);
                if (!boundary) {
                    return std::nullopt;
                }
                brush.boundary = std::move(*boundary);
                c.skip(bytes);
            } else {
                const std::uint32_t count = c.u32le();
                if (!fits(c, count, 8)) {
                    return std::nullopt;
                }
                // A closed cardinal spline through the points: kept as its polygon.
                for (std::uint32_t i = 0; i < count; ++i) {
                    brush.boundary.points.push_back(readPointF(c));
                    brush.boundary.types.push_back(i == 0 ? kPointStart : kPointLine);
                }
                if (count > 0) {
                    brush.boundary.types.back() |= kPointClose;
                }
            }
            if ((flags & kBrushDataTransform) != 0) {
                brush.transform = readMatrix(c);
            }
            if ((flags & kBrushDataPresetColors) != 0) {
                auto stops = readBlendColours(c);
                if (!stops) {
                    return std::nullopt;
                }
                brush.stops = std::move(*stops);
            } else if ((flags & kBrushDataBlendFactorsH) != 0) {
                auto factors = readFactors(c);
                if (!factors) {
                    return std::nullopt;
                }
                brush.factors = std::move(*factors);
            }
            if ((flags & kBrushDataFocusScales) != 0) {
                c.u32le();  // count, always two
                brush.focusX = std::clamp(finiteOr(c.f32le(), 0), 0.0, 1.0);
                brush.focusY = std::clamp(finiteOr(c.f32le(), 0), 0.0, 1.0);
            }
            break;
        }
        case 4: {
            brush.kind = Brush::Kind::LinearGradient;
            const std::uint32_t flags = c.u32le();
            brush.wrap = c.i32le();
            brush.rect.x = c.f32le();
            brush.rect.y = c.f32le();
            brush.rect.width = c.f32le();
            brush.rect.height = c.f32le();
            brush.colour = argbOf(c.u32le());
            brush.other = argbOf(c.u32le());
            c.skip(8);
            if ((flags & kBrushDataTransform) != 0) {
                brush.transform = readMatrix(c);
            }
            if ((flags & kBrushDataPresetColors) != 0) {
                auto stops = readBlendColours(c);
                if (!stops) {
                    return std::nullopt;
                }
                brush.stops = std::move(*stops);
            } else if ((flags & (kBrushDataBlendFactorsH | kBrushDataBlendFactorsV)) != 0) {
                // Factors across the gradient line; vertical ones are for a gradient running
                // down, which GDI+ writes as its own transform, so the first set is the one.
                auto factors = readFactors(c);
                if (!factors) {
                    return std::nullopt;
                }
                brush.factors = std::move(*factors);
            }
            break;
        }
        default:
            return std::nullopt;
    }
    if (c.failed()) {
        return std::nullopt;
    }
    return brush;
}

// A path of a custom cap, behind the byte length that holds it.
std::optional<Path> readSizedPath(BoundedCursor& c) {
    const std::uint32_t bytes = c.u32le();
    if (!c.has(bytes)) {
        return std::nullopt;
    }
    BoundedCursor pathBytes(c.here(), bytes);
    c.skip(bytes);
    return readPathFrom(pathBytes);
}

std::optional<CustomCap> readCustomCap(BoundedCursor& c) {
    c.u32le();  // version
    const std::int32_t type = c.i32le();
    CustomCap cap;
    if (type == 1) {
        cap.arrow = true;
        cap.width = finiteOr(c.f32le(), 0);
        cap.height = finiteOr(c.f32le(), 0);
        cap.middleInset = finiteOr(c.f32le(), 0);
        cap.filled = c.u32le() != 0;
        c.skip(4 * 4);  // the caps, join and miter limit of its outline
        cap.widthScale = finiteOr(c.f32le(), 1);
    } else {
        const std::uint32_t flags = c.u32le();
        c.skip(4 * 6);  // base cap and inset, stroke caps, join and miter limit
        cap.widthScale = finiteOr(c.f32le(), 1);
        c.skip(16);  // hot spots
        if ((flags & 1) != 0) {
            auto fill = readSizedPath(c);
            if (!fill) {
                return std::nullopt;
            }
            cap.fill = std::move(*fill);
        }
        if ((flags & 2) != 0) {
            auto outline = readSizedPath(c);
            if (!outline) {
                return std::nullopt;
            }
            cap.outline = std::move(*outline);
        }
    }
    if (c.failed()) {
        return std::nullopt;
    }
    cap.widthScale = std::clamp(std::fabs(cap.widthScale), 0.0, 100.0);
    return cap;
}

std::optional<Pen> readPenFrom(BoundedCursor& c) {
    c.u32le();  // version
    c.u32le();  // type
    const std::uint32_t flags = c.u32le();
    Pen pen;
    const std::uint32_t unit = c.u32le();
    pen.unit = unit <= 6 ? Unit(unit) : Unit::World;
    pen.width = std::fabs(finiteOr(c.f32le(), 1));
    if ((flags & 0x0001) != 0) {
        pen.transform = readMatrix(c);
    }
    if ((flags & 0x0002) != 0) {
        pen.startCap = c.i32le();
    }
    if ((flags & 0x0004) != 0) {
        pen.endCap = c.i32le();
    }
    if ((flags & 0x0008) != 0) {
        pen.join = int(c.u32le());
    }
    if ((flags & 0x0010) != 0) {
        pen.miterLimit = std::clamp(finiteOr(c.f32le(), 10), 1.0, 100.0);
    }
    if ((flags & 0x0020) != 0) {
        pen.lineStyle = c.i32le();
    }
    if ((flags & 0x0040) != 0) {
        pen.dashCap = c.i32le();
    }
    if ((flags & 0x0080) != 0) {
        pen.dashOffset = finiteOr(c.f32le(), 0);
    }
    if ((flags & 0x0100) != 0) {
        const std::uint32_t count = c.u32le();
        if (!fits(c, count, 4)) {
            return std::nullopt;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            pen.dashes.push_back(std::fabs(finiteOr(c.f32le(), 1)));
        }
    }
    if ((flags & 0x0200) != 0) {
        c.i32le();  // alignment: drawn centred
    }
    // Compound lines are drawn as one line; custom caps are sized blocks of their own.
    for (std::uint32_t bit : {0x0400u, 0x0800u, 0x1000u}) {
        if ((flags & bit) != 0) {
            const std::uint64_t n = c.u32le();
            const std::uint64_t bytes = bit == 0x0400u ? n * 4 : n;  // floats, or a byte size
            if (!c.has(std::size_t(std::min<std::uint64_t>(bytes, c.remaining() + 1)))) {
                return std::nullopt;
            }
            if (bit != 0x0400u) {
                BoundedCursor capBytes(c.here(), std::size_t(bytes));
                auto cap = readCustomCap(capBytes);
                (bit == 0x0800u ? pen.customStart : pen.customEnd) =
                    cap ? std::make_shared<const CustomCap>(std::move(*cap)) : nullptr;
            }
            c.skip(std::size_t(bytes));
        }
    }
    auto brush = readBrushFrom(c);
    if (!brush || c.failed()) {
        return std::nullopt;
    }
    pen.brush = std::move(*brush);
    return pen;
}

bool readRegionNode(BoundedCursor& c, Region& region, int depth) {
    if (depth > kMaxRegionDepth || region.nodes.size() >= kMaxEmfPlusRegionNodes) {
        return false;
    }
    const std::uint32_t type = c.u32le();
    const std::size_t at = region.nodes.size();
    region.nodes.emplace_back();
    switch (type) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5: {
            region.nodes[at].kind = RegionNode::Kind(type);
            region.nodes[at].left = int(region.nodes.size());
            if (!readRegionNode(c, region, depth + 1)) {
                return false;
            }
            region.nodes[at].right = int(region.nodes.size());
            return readRegionNode(c, region, depth + 1);
        }
        case 0x10000000: {
            RectF r;
            r.x = c.f32le();
            r.y = c.f32le();
            r.width = c.f32le();
            r.height = c.f32le();
            region.nodes[at].kind = RegionNode::Kind::Rect;
            region.nodes[at].rect = r;
            return !c.failed() && std::isfinite(r.x + r.y + r.width + r.height);
        }
        case 0x10000001: {
            const std::uint32_t bytes = c.u32le();
            if (!c.has(bytes)) {
                return false;
            }
            BoundedCursor pathBytes(c.here(), bytes);
            auto path = readPathFrom(pathBytes);
            c.skip(bytes);
            if (!path) {
                return false;
            }
            region.nodes[at].kind = RegionNode::Kind::Path;
            region.nodes[at].path = std::move(*path);
            return true;
        }
        case 0x10000002:
            region.nodes[at].kind = RegionNode::Kind::Empty;
            return !c.failed();
        case 0x10000003:
            region.nodes[at].kind = RegionNode::Kind::Infinite;
            return !c.failed();
        default:
            return false;
    }
}

std::optional<Region> readRegionFrom(BoundedCursor& c) {
    c.u32le();  // version
    c.u32le();  // node count, checked as the nodes are read
    Region region;
    if (!readRegionNode(c, region, 0)) {
        return std::nullopt;
    }
    return region;
}

// Palette entries, or nothing for a bitmap that is not indexed.
std::optional<std::vector<std::uint32_t>> readPalette(BoundedCursor& c) {
    c.u32le();  // flags
    const std::uint32_t count = c.u32le();
    if (!fits(c, count, 4) || count > 256) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> palette(count);
    for (auto& entry : palette) {
        entry = c.u32le();
    }
    return palette;
}

std::uint32_t unpremultiplied(std::uint32_t p) {
    const std::uint32_t a = p >> 24;
    if (a == 0 || a == 255) {
        return a == 0 ? 0 : p;
    }
    auto ch = [&](int shift) {
        return std::min<std::uint32_t>(255, ((p >> shift) & 0xFF) * 255 / a);
    };
    return (a << 24) | (ch(16) << 16) | (ch(8) << 8) | ch(0);
}

// The pixels of an uncompressed bitmap as 0xAARRGGBB, or nothing when the format is unknown or
// the rows do not fit.
std::optional<std::vector<std::uint32_t>> unpackPixels(BoundedCursor& c, int width, int height,
                                                       std::int32_t stride, std::uint32_t format) {
    const int bits = int((format >> 8) & 0xFF);
    std::vector<std::uint32_t> palette;
    if ((format & 0x00010000) != 0) {
        auto p = readPalette(c);
        if (!p) {
            return std::nullopt;
        }
        palette = std::move(*p);
    }
    const std::uint64_t rowBytes = (std::uint64_t(width) * bits + 7) / 8;
    const std::uint64_t step = stride < 0 ? std::uint64_t(-std::int64_t(stride)) : stride;
    if (bits == 0 || step < rowBytes || !fits(c, height, step)) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> out(std::size_t(width) * std::size_t(height));
    const std::uint8_t* base = c.here();
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = base + std::size_t(y) * step;
        std::uint32_t* dst = out.data() + std::size_t(stride < 0 ? height - 1 - y : y) * width;
        for (int x = 0; x < width; ++x) {
            std::uint32_t v = 0;
            switch (format) {
                case 0x00030101:
                case 0x00030402:
                case 0x00030803: {
                    const std::size_t bit = std::size_t(x) * bits;
                    const unsigned index =
                        (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                    v = index < palette.size() ? palette[index] : 0xFF000000u;
                    break;
                }
                case 0x00101004: {
                    const unsigned g = row[2 * x + 1];
                    v = 0xFF000000u | (g << 16) | (g << 8) | g;
                    break;
                }
                case 0x00021005:
                case 0x00061007: {
                    const unsigned p = row[2 * x] | (row[2 * x + 1] << 8);
                    const unsigned r = (p >> 10) & 31, g = (p >> 5) & 31, b = p & 31;
                    const unsigned a = format == 0x00061007 && (p & 0x8000) == 0 ? 0 : 255;
                    v = (a << 24) | ((r << 3 | r >> 2) << 16) | ((g << 3 | g >> 2) << 8) |
                        (b << 3 | b >> 2);
                    break;
                }
                case 0x00021006: {
                    const unsigned p = row[2 * x] | (row[2 * x + 1] << 8);
                    const unsigned r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
                    v = 0xFF000000u | ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) |
                        (b << 3 | b >> 2);
                    break;
                }
                case 0x00021808:
                    v = 0xFF000000u | (row[3 * x + 2] << 16) | (row[3 * x + 1] << 8) | row[3 * x];
                    break;
                case 0x00022009:
                case 0x0026200A:
                case 0x000E200B: {
                    const std::uint8_t* p = row + 4 * x;
                    v = (std::uint32_t(p[3]) << 24) | (p[2] << 16) | (p[1] << 8) | p[0];
                    if (format == 0x00022009) {
                        v |= 0xFF000000u;
                    } else if (format == 0x000E200B) {
                        v = unpremultiplied(v);
                    }
                    break;
                }
                case 0x0010300C:
                    v = 0xFF000000u | (row[6 * x + 5] << 16) | (row[6 * x + 3] << 8) |
                        row[6 * x + 1];
                    break;
                case 0x0034400D:
                case 0x001A400E: {
                    const std::uint8_t* p = row + 8 * x;
                    v = (std::uint32_t(p[7]) << 24) | (p[5] << 16) | (p[3] << 8) | p[1];
                    if (format == 0x001A400E) {
                        v = unpremultiplied(v);
                    }
                    break;
                }
                default:
                    return std::nullopt;
            }
            dst[x] = v;
        }
    }
    c.skip(std::size_t(step) * std::size_t(height));
    return out;
}

std::optional<Image> readImageFrom(BoundedCursor& c) {
    c.u32le();  // version
    const std::uint32_t type = c.u32le();
    Image image;
    if (type == 1) {
        const std::int32_t width = c.i32le(), height = c.i32le(), stride = c.i32le();
        const std::uint32_t format = c.u32le();
        const std::uint32_t kind = c.u32le();
        if (c.failed()) {
            return std::nullopt;
        }
        if (kind == 1) {
            image.kind = Image::Kind::Encoded;
            image.bytes = std::make_shared<const std::vector<std::uint8_t>>(
                c.here(), c.here() + c.remaining());
            const workbook::ImageInfo info = workbook::sniffImage(c.here(), c.remaining());
            image.width = info.width > 0 ? info.width : width;
            image.height = info.height > 0 ? info.height : height;
            c.skip(c.remaining());
        } else {
            if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide ||
                std::int64_t(width) * height > kMaxEmfPlusBitmapPixels) {
                return std::nullopt;
            }
            auto pixels = unpackPixels(c, width, height, stride, format);
            if (!pixels) {
                return std::nullopt;
            }
            image.width = width;
            image.height = height;
            image.pixels = std::make_shared<const std::vector<std::uint32_t>>(std::move(*pixels));
        }
        if (image.width <= 0 || image.height <= 0) {
            return std::nullopt;
        }
        return image;
    }
    if (type == 2) {
        const std::uint32_t kind = c.u32le();
        const std::uint32_t bytes = c.u32le();
        if (c.failed() || kind < 1 || kind > 5) {
            return std::nullopt;
        }
        image.kind = Image::Kind::Metafile;
        image.metafileFormat = kind <= 2 ? ImageFormat::Wmf : ImageFormat::Emf;
        std::vector<std::uint8_t> data;
        if (kind == 2 && c.has(kPlaceableHeaderBytes)) {
            // GDI+ counts a placeable WMF's size without its placeable header, which it writes
            // in front padded to 24 bytes: the header, then the metafile it counted.
            data.assign(c.here(), c.here() + kPlaceableHeaderBytes);
            c.skip(kPlaceableHeaderBytes);
            if (c.remaining() >= 4 && c.here()[0] == 0 && c.here()[1] == 0 &&
                (c.here()[2] == 1 || c.here()[2] == 2) && c.here()[3] == 0) {
                c.skip(2);
            }
        }
        // A writer that counted the placeable header too ends that much short.
        const std::size_t take = kind == 2 ? std::min<std::size_t>(bytes, c.remaining()) : bytes;
        if (!c.has(take)) {
            return std::nullopt;
        }
        data.insert(data.end(), c.here(), c.here() + take);
        c.skip(take);
        image.bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(data));
        return image;
    }
    return std::nullopt;
}

std::optional<Font> readFontFrom(BoundedCursor& c) {
    c.u32le();  // version
    Font font;
    font.emSize = finiteOr(c.f32le(), 0);
    const std::uint32_t unit = c.u32le();
    font.unit = unit <= 6 ? Unit(unit) : Unit::World;
    const std::uint32_t style = c.u32le();
    font.bold = (style & 1) != 0;
    font.italic = (style & 2) != 0;
    font.underline = (style & 4) != 0;
    font.strikeOut = (style & 8) != 0;
    c.u32le();  // reserved
    const std::uint32_t length = c.u32le();
    if (!fits(c, length, 2)) {
        return std::nullopt;
    }
    std::u16string name;
    for (std::uint32_t i = 0; i < length; ++i) {
        const char16_t ch = char16_t(c.u16le());
        if (ch == 0) {
            break;
        }
        name.push_back(ch);
    }
    font.family = utf8FromUtf16(name);
    return font;
}

std::optional<StringFormat> readStringFormatFrom(BoundedCursor& c) {
    c.u32le();  // version
    StringFormat format;
    format.flags = c.u32le();
    c.u32le();  // language
    format.align = int(c.u32le());
    format.lineAlign = int(c.u32le());
    c.skip(4 + 4 + 4 + 4);  // digit substitution and language, first tab, hotkey prefix
    format.leadingMargin = finiteOr(c.f32le(), 0);
    format.trailingMargin = finiteOr(c.f32le(), 0);
    format.tracking = finiteOr(c.f32le(), 1);
    if (c.failed()) {
        return std::nullopt;
    }
    return format;
}

}  // namespace

Argb argbOf(std::uint32_t v) {
    return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
}

std::optional<Path> readPath(const std::uint8_t* data, std::size_t size) {
    BoundedCursor c(data, size);
    return readPathFrom(c);
}

Object readObject(ObjectType type, const std::uint8_t* data, std::size_t size) {
    BoundedCursor c(data, size);
    auto wrap = [](auto value) -> Object {
        if (!value) {
            return std::monostate{};
        }
        return std::move(*value);
    };
    switch (type) {
        case ObjectType::Brush:
            return wrap(readBrushFrom(c));
        case ObjectType::Pen:
            return wrap(readPenFrom(c));
        case ObjectType::Path:
            return wrap(readPathFrom(c));
        case ObjectType::Region:
            return wrap(readRegionFrom(c));
        case ObjectType::Image: {
            auto image = readImageFrom(c);
            if (!image) {
                return std::monostate{};
            }
            return std::make_shared<const Image>(std::move(*image));
        }
        case ObjectType::Font:
            return wrap(readFontFrom(c));
        case ObjectType::StringFormat:
            return wrap(readStringFormatFrom(c));
        default:
            return std::monostate{};
    }
}

}  // namespace metafile::emfplus
