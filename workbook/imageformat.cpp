#include "workbook/imageformat.h"

#include <algorithm>
#include <cstring>

#include "workbook/bitmapinfo.h"

namespace workbook {
namespace {

// Pixel sizes beyond this are treated as absent: a header claiming more is not a real image.
constexpr std::uint32_t kMaxSniffedSide = 1u << 20;

std::uint16_t le16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}
std::uint16_t be16(const std::uint8_t* p) {
    return std::uint16_t((p[0] << 8) | p[1]);
}
std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

ImageInfo sized(ImageFormat format, std::int64_t w, std::int64_t h) {
    ImageInfo info;
    info.format = format;
    if (w > 0 && h > 0 && w <= kMaxSniffedSide && h <= kMaxSniffedSide) {
        info.width = int(w);
        info.height = int(h);
    }
    return info;
}

bool startsWith(const std::uint8_t* data, std::size_t size, const char* magic, std::size_t n) {
    return size >= n && std::memcmp(data, magic, n) == 0;
}

ImageInfo sniffJpeg(const std::uint8_t* d, std::size_t size) {
    // Walk the marker segments up to the first start-of-frame, which holds the size.
    std::size_t pos = 2;
    while (pos + 4 <= size) {
        if (d[pos] != 0xFF) {
            break;
        }
        std::uint8_t marker = d[pos + 1];
        if (marker == 0xFF) {
            ++pos;  // fill byte
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        std::size_t length = be16(d + pos + 2);
        bool sof =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof && pos + 9 <= size) {
            return sized(ImageFormat::Jpeg, be16(d + pos + 7), be16(d + pos + 5));
        }
        if (length < 2) {
            break;
        }
        pos += 2 + length;
    }
    return sized(ImageFormat::Jpeg, 0, 0);
}

ImageInfo sniffTiff(const std::uint8_t* d, std::size_t size) {
    bool little = d[0] == 'I';
    auto u16 = [&](std::size_t at) { return little ? le16(d + at) : be16(d + at); };
    auto u32 = [&](std::size_t at) { return little ? le32(d + at) : be32(d + at); };
    std::uint32_t ifd = u32(4);
    if (ifd < 8 || std::size_t(ifd) + 2 > size) {
        return sized(ImageFormat::Tiff, 0, 0);
    }
    std::size_t count = u16(ifd);
    std::int64_t w = 0, h = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t e = ifd + 2 + i * 12;
        if (e + 12 > size) {
            break;
        }
        std::uint16_t tag = u16(e), type = u16(e + 2);
        std::uint32_t value = type == 3 ? u16(e + 8) : u32(e + 8);
        if (tag == 256) {
            w = value;
        } else if (tag == 257) {
            h = value;
        }
    }
    return sized(ImageFormat::Tiff, w, h);
}

ImageInfo sniffWebP(const std::uint8_t* d, std::size_t size) {
    if (size >= 30 && std::memcmp(d + 12, "VP8 ", 4) == 0) {
        return sized(ImageFormat::WebP, le16(d + 26) & 0x3FFF, le16(d + 28) & 0x3FFF);
    }
    if (size >= 25 && std::memcmp(d + 12, "VP8L", 4) == 0) {
        std::uint32_t bits = le32(d + 21);
        return sized(ImageFormat::WebP, (bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1);
    }
    if (size >= 30 && std::memcmp(d + 12, "VP8X", 4) == 0) {
        std::uint32_t w = 1 + (d[24] | (d[25] << 8) | (d[26] << 16));
        std::uint32_t h = 1 + (d[27] | (d[28] << 8) | (d[29] << 16));
        return sized(ImageFormat::WebP, w, h);
    }
    return sized(ImageFormat::WebP, 0, 0);
}

bool looksLikeSvg(const std::uint8_t* d, std::size_t size) {
    // An SVG is text: look for the root element within the first kilobyte.
    std::size_t n = std::min<std::size_t>(size, 1024);
    std::string_view head(reinterpret_cast<const char*>(d), n);
    std::size_t start = 0;
    if (head.substr(0, 3) == "\xEF\xBB\xBF") {
        start = 3;
    }
    while (start < head.size() && (head[start] == ' ' || head[start] == '\t' ||
                                   head[start] == '\r' || head[start] == '\n')) {
        ++start;
    }
    if (start >= head.size() || head[start] != '<') {
        return false;
    }
    return head.find("<svg", start) != std::string_view::npos;
}

// A Macintosh picture as workbooks keep it, without the 512-byte file header: its size, its
// frame, then the version opcode (0x11 0x01, or 0x0011 0x02FF).
bool looksLikePict(const std::uint8_t* d, std::size_t size) {
    for (std::size_t start : {std::size_t(0), std::size_t(512)}) {
        if (size < start + 14) {
            return false;
        }
        const std::uint8_t* p = d + start;
        if (std::memcmp(p + 10, "\x00\x11\x02\xFF", 4) == 0) {
            return true;
        }
        auto top = std::int16_t(be16(p + 2)), left = std::int16_t(be16(p + 4));
        auto bottom = std::int16_t(be16(p + 6)), right = std::int16_t(be16(p + 8));
        if (p[10] == 0x11 && p[11] == 0x01 && bottom > top && right > left) {
            return true;
        }
    }
    return false;
}

// A bitmap without its file header, as binary workbooks keep them: a BITMAPINFO header with
// one plane and a depth and compression that fit together.
bool looksLikeDib(const std::uint8_t* d, std::size_t size) {
    const std::uint32_t header = le32(d);
    if (header != 12 && header != 40 && header != 52 && header != 56 && header != 108 &&
        header != 124) {
        return false;
    }
    const std::size_t planesAt = header == 12 ? 8 : 12;
    return size >= planesAt + 2 && le16(d + planesAt) == 1 && readBitmapInfo(d, size);
}

}  // namespace

ImageInfo sniffImage(const std::uint8_t* d, std::size_t size) {
    if (d == nullptr || size < 4) {
        return {};
    }
    if (startsWith(d, size, "\x89PNG\r\n\x1a\n", 8)) {
        if (size >= 24 && std::memcmp(d + 12, "IHDR", 4) == 0) {
            return sized(ImageFormat::Png, be32(d + 16), be32(d + 20));
        }
        return sized(ImageFormat::Png, 0, 0);
    }
    if (d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) {
        return sniffJpeg(d, size);
    }
    if (startsWith(d, size, "GIF87a", 6) || startsWith(d, size, "GIF89a", 6)) {
        return size >= 10 ? sized(ImageFormat::Gif, le16(d + 6), le16(d + 8))
                          : sized(ImageFormat::Gif, 0, 0);
    }
    if (d[0] == 'B' && d[1] == 'M' && size >= 26) {
        std::uint32_t header = le32(d + 14);
        if (header == 12) {
            return sized(ImageFormat::Bmp, le16(d + 18), le16(d + 20));
        }
        if (header >= 40 && size >= 26) {
            auto w = std::int32_t(le32(d + 18));
            auto h = std::int32_t(le32(d + 22));
            return sized(ImageFormat::Bmp, w, h < 0 ? -std::int64_t(h) : h);
        }
        return sized(ImageFormat::Bmp, 0, 0);
    }
    if (size >= 8 && (std::memcmp(d, "II*\0", 4) == 0 || std::memcmp(d, "MM\0*", 4) == 0)) {
        return sniffTiff(d, size);
    }
    if (size >= 16 && std::memcmp(d, "RIFF", 4) == 0 && std::memcmp(d + 8, "WEBP", 4) == 0) {
        return sniffWebP(d, size);
    }
    auto metafile = [&](ImageFormat format) { return sized(format, 0, 0); };
    if (size >= 44 && le32(d) == 1 && std::memcmp(d + 40, " EMF", 4) == 0) {
        return metafile(ImageFormat::Emf);
    }
    if (le32(d) == 0x9AC6CDD7u ||
        (size >= 18 && (le16(d) == 1 || le16(d) == 2) && le16(d + 2) == 9 &&
         (le16(d + 4) == 0x0100 || le16(d + 4) == 0x0300))) {
        return metafile(ImageFormat::Wmf);
    }
    if (looksLikePict(d, size)) {
        return metafile(ImageFormat::Pict);
    }
    if (looksLikeDib(d, size)) {
        auto info = readBitmapInfo(d, size);
        return sized(ImageFormat::Dib, info->width, info->height);
    }
    if (looksLikeSvg(d, size)) {
        return sized(ImageFormat::Svg, 0, 0);
    }
    return {};
}

std::string_view formatName(ImageFormat format) {
    switch (format) {
        case ImageFormat::Png:
            return "png";
        case ImageFormat::Jpeg:
            return "jpeg";
        case ImageFormat::Gif:
            return "gif";
        case ImageFormat::Bmp:
            return "bmp";
        case ImageFormat::Tiff:
            return "tiff";
        case ImageFormat::WebP:
            return "webp";
        case ImageFormat::Emf:
            return "emf";
        case ImageFormat::Wmf:
            return "wmf";
        case ImageFormat::Svg:
            return "svg";
        case ImageFormat::Dib:
            return "dib";
        case ImageFormat::Pict:
            return "pict";
        case ImageFormat::Unknown:
            break;
    }
    return "unknown";
}

std::string_view formatExtension(ImageFormat format) {
    switch (format) {
        case ImageFormat::Jpeg:
            return "jpg";
        case ImageFormat::Tiff:
            return "tif";
        case ImageFormat::Unknown:
            return "bin";
        default:
            return formatName(format);
    }
}

}  // namespace workbook
