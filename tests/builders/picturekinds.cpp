#include "builders/picturekinds.h"

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <stdexcept>

#include "builders/xlsxbuilder.h"

namespace testing_support {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The size of the pictures being made, set by each call.
int pictureWidth = 19;
int pictureHeight = 13;

struct Png {
    int colorType;
    int depth;
    bool interlaced = false;
    bool transparentColor = false;  // tRNS
    bool gamma = false;             // gAMA
};

int channelsOf(int colorType) {
    switch (colorType) {
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 2;
        case PNG_COLOR_TYPE_RGB:
            return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            return 4;
        default:
            return 1;
    }
}

// A sample visiting the whole range of the depth, both ends included, and alpha that is clear,
// opaque and in between.
unsigned sample(const Png& p, int x, int y, int channel, int paletteSize) {
    const unsigned top = (1u << p.depth) - 1;
    if (p.colorType == PNG_COLOR_TYPE_PALETTE) {
        return unsigned(x + y * pictureWidth) % unsigned(paletteSize);
    }
    const bool alpha =
        (p.colorType & PNG_COLOR_MASK_ALPHA) && channel == channelsOf(p.colorType) - 1;
    if (alpha) {
        return x % 3 == 0 ? 0 : x % 3 == 1 ? top : (unsigned(y) * 4099u + 37u) & top;
    }
    if (x == 0) {
        return y % 2 ? top : 0;
    }
    return (unsigned(x) * 4111u + unsigned(y) * 9973u + unsigned(channel) * 7919u) & top;
}

void appendTo(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

Bytes pngOf(const Png& p) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("cannot write a PNG kind");
    }
    png_set_write_fn(png, &out, appendTo, nullptr);
    png_set_IHDR(png, info, png_uint_32(pictureWidth), png_uint_32(pictureHeight), p.depth,
                 p.colorType, p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const int paletteSize = p.depth == 8 ? 200 : 1 << p.depth;
    auto palette = std::vector<png_color>(std::size_t(paletteSize));
    for (int i = 0; i < paletteSize; ++i) {
        palette[std::size_t(i)] = {png_byte(i * 37), png_byte(i * 91 + 20), png_byte(i * 53 + 7)};
    }
    if (p.colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, palette.data(), paletteSize);
    }
    if (p.transparentColor) {
        // The colour of pixel (1, 0), so some pixels are clear; entries of a palette part clear.
        png_color_16 colour{};
        colour.gray = png_uint_16(sample(p, 1, 0, 0, paletteSize));
        colour.red = png_uint_16(sample(p, 1, 0, 0, paletteSize));
        colour.green = png_uint_16(sample(p, 1, 0, 1, paletteSize));
        colour.blue = png_uint_16(sample(p, 1, 0, 2, paletteSize));
        const png_byte alphas[] = {0, 64, 128, 255, 200};
        png_set_tRNS(png, info, alphas,
                     p.colorType == PNG_COLOR_TYPE_PALETTE ? std::min(5, paletteSize) : 0, &colour);
    }
    if (p.gamma) {
        png_set_gAMA(png, info, 0.45455);
    }
    png_write_info(png, info);
    const int channels = channelsOf(p.colorType);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<Bytes> rows(std::size_t(pictureHeight), Bytes(rowBytes, 0));
    for (int y = 0; y < pictureHeight; ++y) {
        Bytes& row = rows[std::size_t(y)];
        int bit = 0;
        for (int x = 0; x < pictureWidth; ++x) {
            for (int c = 0; c < channels; ++c) {
                const unsigned v = sample(p, x, y, c, paletteSize);
                if (p.depth == 16) {
                    row[std::size_t(bit / 8)] = std::uint8_t(v >> 8);
                    row[std::size_t(bit / 8 + 1)] = std::uint8_t(v);
                } else {
                    row[std::size_t(bit / 8)] |= std::uint8_t(v << (8 - p.depth - bit % 8));
                }
                bit += p.depth;
            }
        }
    }
    std::vector<png_bytep> pointers;
    for (Bytes& row : rows) {
        pointers.push_back(row.data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string pngName(const Png& p) {
    const char* type = p.colorType == PNG_COLOR_TYPE_GRAY         ? "grey"
                       : p.colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? "grey+alpha"
                       : p.colorType == PNG_COLOR_TYPE_RGB        ? "rgb"
                       : p.colorType == PNG_COLOR_TYPE_PALETTE    ? "palette"
                                                                  : "rgba";
    return std::string("png ") + type + " " + std::to_string(p.depth) + "-bit" +
           (p.interlaced ? " interlaced" : "") + (p.transparentColor ? " tRNS" : "") +
           (p.gamma ? " gAMA" : "");
}

// Smooth colours with hard edges; in CMYK the fourth channel varies as well.
Bytes jpegOf(int pixelFormat, int sampling, int flags) {
    const int channels = tjPixelSize[pixelFormat];
    Bytes pixels(std::size_t(pictureWidth * pictureHeight * channels));
    for (int y = 0; y < pictureHeight; ++y) {
        for (int x = 0; x < pictureWidth; ++x) {
            for (int c = 0; c < channels; ++c) {
                const bool edge = x > pictureWidth / 2 && y > pictureHeight / 3;
                pixels[std::size_t((y * pictureWidth + x) * channels + c)] =
                    std::uint8_t(x * 12 + y * 5 * (c + 1) + (edge ? 90 : 0) + c * 40);
            }
        }
    }
    tjhandle compressor = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int failed = tjCompress2(compressor, pixels.data(), pictureWidth, 0, pictureHeight,
                                   pixelFormat, &jpeg, &size, sampling, 90, flags);
    Bytes out(jpeg, jpeg + (failed ? 0 : size));
    tjFree(jpeg);
    tjDestroy(compressor);
    if (failed) {
        throw std::runtime_error("cannot write a JPEG kind");
    }
    return out;
}

// An EXIF segment whose orientation turns the picture a quarter clockwise, after the start of
// image.
Bytes withExifOrientation(Bytes jpeg, std::uint8_t orientation) {
    const Bytes segment = {0xFF, 0xE1,        0x00, 0x22, 'E',  'x',  'i',  'f',  0x00,
                           0x00, 'I',         'I',  0x2A, 0x00, 0x08, 0x00, 0x00, 0x00,
                           0x01, 0x00,        0x12, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00,
                           0x00, orientation, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
    return jpeg;
}

}  // namespace

std::vector<PictureKind> pictureKinds(int width, int height) {
    pictureWidth = width;
    pictureHeight = height;
    std::vector<PictureKind> kinds;
    const struct {
        int colorType;
        std::vector<int> depths;
    } types[] = {{PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}},
                 {PNG_COLOR_TYPE_RGB, {8, 16}},
                 {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}},
                 {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}},
                 {PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}}};
    std::vector<Png> pngs;
    for (const auto& type : types) {
        for (int depth : type.depths) {
            for (bool interlaced : {false, true}) {
                pngs.push_back({type.colorType, depth, interlaced});
            }
            if (!(type.colorType & PNG_COLOR_MASK_ALPHA)) {
                pngs.push_back({type.colorType, depth, depth == 8, true});
            }
        }
    }
    pngs.push_back({PNG_COLOR_TYPE_RGB, 8, false, false, true});
    pngs.push_back({PNG_COLOR_TYPE_RGB_ALPHA, 8, true, false, true});
    for (const Png& p : pngs) {
        kinds.push_back({pngName(p), pngOf(p)});
    }

    const struct {
        const char* name;
        int pixelFormat;
        int sampling;
        int flags;
    } jpegs[] = {
        {"jpeg colour 4:2:0", TJPF_RGB, TJSAMP_420, 0},
        {"jpeg colour 4:2:2", TJPF_RGB, TJSAMP_422, 0},
        {"jpeg colour 4:4:4", TJPF_RGB, TJSAMP_444, 0},
        {"jpeg colour 4:4:0", TJPF_RGB, TJSAMP_440, 0},
        {"jpeg colour 4:1:1", TJPF_RGB, TJSAMP_411, 0},
        {"jpeg grey", TJPF_GRAY, TJSAMP_GRAY, 0},
        {"jpeg colour stored grey", TJPF_RGB, TJSAMP_GRAY, 0},
        {"jpeg cmyk 4:4:4", TJPF_CMYK, TJSAMP_444, 0},
        {"jpeg cmyk 4:2:0", TJPF_CMYK, TJSAMP_420, 0},
        {"jpeg progressive 4:2:0", TJPF_RGB, TJSAMP_420, TJFLAG_PROGRESSIVE},
        {"jpeg progressive grey", TJPF_GRAY, TJSAMP_GRAY, TJFLAG_PROGRESSIVE},
        {"jpeg progressive cmyk", TJPF_CMYK, TJSAMP_444, TJFLAG_PROGRESSIVE},
    };
    for (const auto& j : jpegs) {
        kinds.push_back({j.name, jpegOf(j.pixelFormat, j.sampling, j.flags)});
    }
    kinds.push_back(
        {"jpeg exif orientation 6", withExifOrientation(jpegOf(TJPF_RGB, TJSAMP_420, 0), 6)});
    kinds.push_back({"bmp", bmpImage(pictureWidth, pictureHeight)});
    kinds.push_back({"gif", gifImage()});
    return kinds;
}

}  // namespace testing_support
