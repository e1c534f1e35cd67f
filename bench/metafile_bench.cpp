// Drawing metafiles: the median time to turn each metafile of the real workbooks in the test
// corpus (EMF, WMF, PICT) into pixels through renderPicture, against a fixed floor measured in
// the same run: Qt decoding one PNG of 256 x 256 pixels. The floor does not follow the
// metafiles' sizes, so the ratios stay comparable when the size a metafile is drawn at changes.
// Prints each metafile's time and ratio (ours / floor), and the median ratio.
//
//   metafile_bench [--rounds R] [CORPUS_FOLDER]
#include <QBuffer>
#include <QDirIterator>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "metafile/metafile.h"
#include "platform/picture.h"
#include "render/renderer.h"
#include "workbook/workbook.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    std::string name;
    platform::Picture picture;
};

// A PNG of 256 x 256 pixels of smooth colour and fine detail, as pictures have.
QByteArray floorPng() {
    QImage image(256, 256, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, qRgb(x, y, (x * y) % 256 ^ ((x + y) % 7) * 30));
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

template <typename Work>
double medianSeconds(int rounds, const Work& work) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    return median(times);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    int rounds = 15;
    QString folder = QStringLiteral(QUILLFEN_CORPUS_DIR);
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else {
            folder = QString::fromLocal8Bit(argv[i]);
        }
    }
    std::vector<Sample> samples;
    QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        auto opened =
            workbook::openWorkbook(path.toStdString(), {.sniff = metafile::sniffDrawnImage});
        if (!opened) {
            continue;
        }
        const auto& sheets = opened.value()->worksheets();
        for (std::size_t s = 0; s < sheets.size(); ++s) {
            for (std::size_t p = 0; p < sheets[s].pictures.size(); ++p) {
                const workbook::PictureInfo& info = sheets[s].pictures[p];
                if (info.linked || (info.format != workbook::ImageFormat::Emf &&
                                    info.format != workbook::ImageFormat::Wmf &&
                                    info.format != workbook::ImageFormat::Pict)) {
                    continue;
                }
                auto bytes = opened.value()->readPictureBytes(s, p);
                if (!bytes) {
                    continue;
                }
                Sample sample;
                sample.name = files.fileName().toStdString() + " " + std::to_string(s + 1) + "/" +
                              std::to_string(p + 1);
                sample.picture = platform::Picture::fromBytes(
                    QByteArray(reinterpret_cast<const char*>(bytes.value().data()),
                               qsizetype(bytes.value().size())),
                    QSize(info.width, info.height));
                if (render::renderPicture(sample.picture).ok()) {
                    samples.push_back(std::move(sample));
                }
            }
        }
    }
    if (samples.empty()) {
        std::fprintf(stderr, "metafile_bench: no metafiles under %s\n", qPrintable(folder));
        return 1;
    }
    const QByteArray png = floorPng();
    const double floor = medianSeconds(4 * rounds, [&] { QImage::fromData(png, "PNG"); });
    std::vector<double> ratios;
    std::printf("floor: a 256 x 256 PNG decoded in %.3f ms\n", floor * 1e3);
    std::printf("%-40s %10s %7s\n", "metafile", "ours ms", "ratio");
    for (const Sample& s : samples) {
        const double ours = medianSeconds(rounds, [&] { render::renderPicture(s.picture); });
        ratios.push_back(ours / floor);
        std::printf("%-40s %10.3f %7.2f\n", s.name.c_str(), ours * 1e3, ours / floor);
    }
    std::printf("median ratio over %zu metafiles: %.2f\n", ratios.size(), median(ratios));
    return 0;
}
