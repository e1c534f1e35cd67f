// Saving pictures as JPEG and BMP, against the floor of the same work done by TurboJPEG and
// libpng in one plain loop. Prints ratios (ours / floor) measured in the same run.
//
//   encode_bench [--count N] [--rounds R] [--out FOLDER] [--only floor|ours]
//                [--format jpeg|bmp|both]
//
// The pictures are made here: photos (smooth light, edges, sensor grain) stored as JPEG and
// graphics (flat fills, bars, lines, glyph-like marks, some with a transparent background)
// stored as PNG, 0.5 to 6 megapixels.
#include <png.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "encode/bmpfile.h"
#include "encode/saveasjpg.h"
#include "platform/picture.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

struct Source {
    bool photo;
    int width;
    int height;
    Bytes bytes;
    platform::Picture picture;
};

// Sizes from 0.48 to 6 megapixels, as cameras, scanners and screenshots give them.
constexpr int kSizes[][2] = {{800, 600},   {1024, 768},  {1280, 960},  {1600, 1200},
                             {1920, 1080}, {2048, 1536}, {2592, 1944}, {3000, 2000}};

void fail(const char* what) {
    std::fprintf(stderr, "encode_bench: %s\n", what);
    std::exit(1);
}

// Film grain from a cheap generator: std::normal_distribution made generation slower than
// the work being measured.
struct Grain {
    std::uint32_t state;
    int next() {
        state = state * 1664525u + 1013904223u;
        return int((state >> 24) % 9) - 4;
    }
};

Bytes makePhotoJpeg(int width, int height, std::mt19937& rng) {
    std::uniform_real_distribution<double> phase(0, 6.28);
    double p1 = phase(rng), p2 = phase(rng), p3 = phase(rng);
    Grain grain{std::uint32_t(rng())};
    Bytes rgb(std::size_t(width) * height * 3);
    int cx = width / 3 + int(rng() % unsigned(width / 3)), cy = height / 2;
    double radius = height / 4.0;
    for (int y = 0; y < height; ++y) {
        double v = double(y) / height;
        double cosV = std::cos(2.3 * v + p2), sinV = std::sin(7 * v + p3);
        for (int x = 0; x < width; ++x) {
            double u = double(x) / width;
            double light = 0.55 + 0.3 * std::sin(3.1 * u + p1) * cosV;
            double r = light * (200 + 40 * sinV);
            double g = light * (170 + 50 * std::cos(5 * u + p1));
            double b = light * (140 + 60 * std::sin(4 * (u + v) + p2));
            double dx = x - cx, dy = y - cy;
            if (dx * dx + dy * dy < radius * radius) {  // an object with a hard outline
                r = r * 0.4 + 120;
                g *= 0.5;
                b *= 0.3;
            }
            if ((x / 97 + y / 61) % 11 == 0) {  // texture: a fence, a brick wall
                r *= 0.7;
                g *= 0.7;
                b *= 0.7;
            }
            unsigned char* px = &rgb[(std::size_t(y) * width + x) * 3];
            px[0] = (unsigned char)std::clamp(r + grain.next(), 0.0, 255.0);
            px[1] = (unsigned char)std::clamp(g + grain.next(), 0.0, 255.0);
            px[2] = (unsigned char)std::clamp(b + grain.next(), 0.0, 255.0);
        }
    }
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_420, 92, 0) !=
        0) {
        fail("cannot make a photo");
    }
    Bytes out(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(tj);
    return out;
}

void appendPng(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

Bytes makeGraphicPng(int width, int height, bool transparent, std::mt19937& rng) {
    const int channels = transparent ? 4 : 3;
    Bytes pixels(std::size_t(width) * height * channels);
    const unsigned char palette[][3] = {
        {31, 119, 180}, {255, 127, 14}, {44, 160, 44}, {214, 39, 40}, {148, 103, 189}};
    int bars = 6 + int(rng() % 6);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char c[4] = {250, 250, 252, (unsigned char)(transparent ? 0 : 255)};
            int bar = x * bars / width;
            int barTop = height / 8 + (bar * 7919 % 5) * height / 8;
            bool inBar = (x * bars % width) > width / 5 && y > barTop && y < height * 7 / 8;
            if (inBar) {
                std::memcpy(c, palette[bar % 5], 3);
                c[3] = 255;
            } else if (y % (height / 10) == 0 || x == width / 12) {  // grid and axis
                c[0] = c[1] = c[2] = 180;
                c[3] = 255;
            } else if (y > height * 29 / 32 && ((x / 3) % 4 != 0) && ((x * 31 + y * 17) % 23 < 9)) {
                c[0] = c[1] = c[2] = 40;  // a line of glyph-like marks
                c[3] = 255;
            }
            std::memcpy(&pixels[(std::size_t(y) * width + x) * channels], c, channels);
        }
    }
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        fail("cannot make a graphic");
    }
    png_set_write_fn(png, &out, appendPng, nullptr);
    png_set_IHDR(png, info, width, height, 8,
                 transparent ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, &pixels[std::size_t(y) * width * channels]);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// ---- The floor: one plain loop over TurboJPEG and libpng, buffers and handles reused. ----

struct MemoryReader {
    const Bytes* bytes;
    std::size_t at;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t n) {
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (n > r->bytes->size() - r->at) {
        png_error(png, "short");
    }
    std::memcpy(out, r->bytes->data() + r->at, n);
    r->at += n;
}

struct Floor {
    tjhandle decompressor = tjInitDecompress();
    tjhandle compressor = tjInitCompress();
    Bytes pixels;
    std::vector<png_bytep> rows;

    // Decodes into `pixels` as 3-byte pixels, BGR and bottom-up with rows padded to four bytes
    // when `bmpLayout`, else RGB top-down and tight. Returns the row pitch.
    int decode(const Source& s, bool bmpLayout) {
        int pitch = bmpLayout ? (s.width * 3 + 3) & ~3 : s.width * 3;
        if (pixels.size() < std::size_t(pitch) * s.height) {
            pixels.resize(std::size_t(pitch) * s.height);
        }
        if (s.photo) {
            if (tjDecompress2(decompressor, s.bytes.data(), s.bytes.size(), pixels.data(), s.width,
                              pitch, s.height, bmpLayout ? TJPF_BGR : TJPF_RGB,
                              bmpLayout ? TJFLAG_BOTTOMUP : 0) != 0) {
                fail("floor: JPEG decode");
            }
            return pitch;
        }
        decodePng(s, pitch, bmpLayout);
        return pitch;
    }

    void decodePng(const Source& s, int pitch, bool bmpLayout) {
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        MemoryReader reader{&s.bytes, 0};
        rows.resize(std::size_t(s.height));
        for (int y = 0; y < s.height; ++y) {
            int at = bmpLayout ? s.height - 1 - y : y;
            rows[std::size_t(y)] = pixels.data() + std::size_t(at) * pitch;
        }
        if (setjmp(png_jmpbuf(png))) {
            fail("floor: PNG decode");
        }
        png_set_read_fn(png, &reader, readFromMemory);
        png_read_info(png, info);
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_strip_alpha(png);
        if (bmpLayout) {
            png_set_bgr(png);
        }
        png_read_update_info(png, info);
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
    }

    void saveJpeg(const Source& s, const std::string& path) {
        int pitch = decode(s, false);
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        if (tjCompress2(compressor, pixels.data(), s.width, pitch, s.height, TJPF_RGB, &jpeg, &size,
                        TJSAMP_420, 85, 0) != 0) {
            fail("floor: JPEG encode");
        }
        writeFile(path, {{jpeg, size}});
        tjFree(jpeg);
    }

    void saveBmp(const Source& s, const std::string& path) {
        int pitch = decode(s, true);
        unsigned char h[54] = {'B', 'M'};
        auto put32 = [&](int at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i)
                h[at + i] = (unsigned char)(v >> (8 * i));
        };
        std::uint32_t imageBytes = std::uint32_t(pitch) * s.height;
        put32(2, 54 + imageBytes);
        put32(10, 54);
        put32(14, 40);
        put32(18, s.width);
        put32(22, s.height);
        h[26] = 1;
        h[28] = 24;
        put32(34, imageBytes);
        writeFile(path, {{h, 54}, {pixels.data(), imageBytes}});
    }

    static void writeFile(
        const std::string& path,
        std::initializer_list<std::pair<const unsigned char*, std::size_t>> parts) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) {
            fail("floor: cannot create an output file");
        }
        for (auto [data, size] : parts) {
            if (std::fwrite(data, 1, size, f) != size) {
                fail("floor: write");
            }
        }
        if (std::fclose(f) != 0) {
            fail("floor: close");
        }
    }
};

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

// Seconds by side (0 floor, 1 ours) and kind (0 graphic, 1 photo), on the wall and on the CPU.
struct Totals {
    double wall[2][2] = {};
    double cpu[2][2] = {};
    static double sum(const double (&v)[2][2], int side) { return v[side][0] + v[side][1]; }
    double wallRatio() const { return sum(wall, 1) / sum(wall, 0); }
    double cpuRatio() const { return sum(cpu, 1) / sum(cpu, 0); }
};

}  // namespace

int main(int argc, char** argv) {
    int count = 24;
    int rounds = 3;
    int only = -1;  // --only floor|ours runs one side, for a profiler
    std::string formats = "both";
    QString outFolder;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string flag = argv[i];
        if (flag == "--count")
            count = std::max(1, std::atoi(argv[i + 1]));
        else if (flag == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (flag == "--out")
            outFolder = QString::fromLocal8Bit(argv[i + 1]);
        else if (flag == "--format")
            formats = argv[i + 1];
        else if (flag == "--only")
            only = std::string(argv[i + 1]) == "ours" ? 1 : 0;
    }
    QTemporaryDir temporary;
    if (outFolder.isEmpty()) {
        outFolder = temporary.path();
    }
    QDir().mkpath(outFolder);

    std::mt19937 rng(20150219);
    std::vector<Source> sources;
    double megapixels = 0;
    std::size_t storedBytes = 0;
    for (int i = 0; i < count; ++i) {
        const int* size = kSizes[rng() % std::size(kSizes)];
        Source s{i % 2 == 0, size[0], size[1], {}, {}};
        s.bytes = s.photo ? makePhotoJpeg(s.width, s.height, rng)
                          : makeGraphicPng(s.width, s.height, i % 8 == 3, rng);
        s.picture = platform::Picture::fromBytes(
            QByteArray(reinterpret_cast<const char*>(s.bytes.data()), qsizetype(s.bytes.size())));
        megapixels += s.width * double(s.height) / 1e6;
        storedBytes += s.bytes.size();
        sources.push_back(std::move(s));
    }
    std::printf(
        "%d pictures (%d photos as JPEG, %d graphics as PNG), %.1f megapixels, %.1f MB "
        "stored; %d rounds, outputs in %s\n",
        count, (count + 1) / 2, count / 2, megapixels, storedBytes / 1e6, rounds,
        qPrintable(outFolder));

    Floor floor;
    for (const char* format : {"JPEG q85", "BMP"}) {
        bool jpeg = format[0] == 'J';
        if (formats != "both" && (formats == "jpeg") != jpeg) {
            continue;
        }
        std::vector<Totals> perRound;
        for (int round = 0; round < rounds; ++round) {
            Totals t;
            for (std::size_t i = 0; i < sources.size(); ++i) {
                const Source& s = sources[i];
                std::string floorPath =
                    (outFolder + QStringLiteral("/floor_%1.%2").arg(i).arg(jpeg ? "jpg" : "bmp"))
                        .toStdString();
                QString oursPath =
                    outFolder + QStringLiteral("/ours_%1.%2").arg(i).arg(jpeg ? "jpg" : "bmp");
                // Alternate who goes first so neither always finds the caches warm.
                for (int turn = 0; turn < 2; ++turn) {
                    int side = (turn + round + int(i)) % 2;
                    if (side != only && only != -1) {
                        continue;
                    }
                    double cpuStart = cpuSeconds();
                    auto start = Clock::now();
                    if (side == 0) {
                        jpeg ? floor.saveJpeg(s, floorPath) : floor.saveBmp(s, floorPath);
                    } else if (jpeg) {
                        encode::SaveJPG(s.picture, oursPath, 85);
                    } else {
                        encode::writeBmpFile(s.picture, oursPath);
                    }
                    t.wall[side][s.photo] +=
                        std::chrono::duration<double>(Clock::now() - start).count();
                    t.cpu[side][s.photo] += cpuSeconds() - cpuStart;
                }
                std::remove(floorPath.c_str());
                QFile::remove(oursPath);
            }
            perRound.push_back(t);
        }
        // The least disturbed round (smallest wall time of both sides) gives the figures; every
        // round's ratio is printed so the spread can be judged on a busy machine.
        auto best = std::min_element(perRound.begin(), perRound.end(), [](auto& a, auto& b) {
            return Totals::sum(a.wall, 0) + Totals::sum(a.wall, 1) <
                   Totals::sum(b.wall, 0) + Totals::sum(b.wall, 1);
        });
        const Totals& t = *best;
        std::printf("\n%s\n", format);
        std::printf("  wall ratio per round:");
        for (const Totals& r : perRound)
            std::printf(" %.3f", r.wallRatio());
        std::printf("\n  cpu ratio per round: ");
        for (const Totals& r : perRound)
            std::printf(" %.3f", r.cpuRatio());
        std::printf(
            "\n  best round: floor %.3f s, ours %.3f s: wall ratio %.3f "
            "(photos %.3f, graphics %.3f); cpu ratio %.3f\n",
            Totals::sum(t.wall, 0), Totals::sum(t.wall, 1), t.wallRatio(),
            t.wall[1][1] / t.wall[0][1], t.wall[1][0] / t.wall[0][0], t.cpuRatio());
        std::printf(
            "  ours %.1f ms per picture (%.1f ms per megapixel); 2,000 such pictures: "
            "%.1f s on the wall, %.1f s of CPU (floor %.1f s, %.1f s)\n",
            1000 * Totals::sum(t.wall, 1) / count, 1000 * Totals::sum(t.wall, 1) / megapixels,
            2000 * Totals::sum(t.wall, 1) / count, 2000 * Totals::sum(t.cpu, 1) / count,
            2000 * Totals::sum(t.wall, 0) / count, 2000 * Totals::sum(t.cpu, 0) / count);
    }
    return 0;
}
