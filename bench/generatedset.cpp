#include "generatedset.h"

#include <png.h>
#include <turbojpeg.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <malloc.h>

#include <QString>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <random>

#include "automation/nativeexcel.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// A photograph stand-in: smooth colour fields with grain, which JPEG compresses the way it
// compresses real photos (about one to two bits per pixel).
Bytes photo(int width, int height, std::mt19937& random) {
    std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
    std::uniform_real_distribution<double> phase(0, 6.28);
    std::normal_distribution<double> grain(0, 18);
    double p[6];
    for (double& x : p)
        x = phase(random);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double u = double(x) / width, v = double(y) / height;
            for (int c = 0; c < 3; ++c) {
                double value = 128 + 80 * std::sin(3 * u + p[c]) * std::cos(2 * v + p[c + 3]) +
                               30 * std::sin(40 * u * v + p[c]) + grain(random);
                rgb[(std::size_t(y) * width + x) * 3 + c] =
                    std::uint8_t(std::clamp(value, 0.0, 255.0));
            }
        }
    }
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_420, 88, 0);
    Bytes jpeg(out, out + size);
    tjFree(out);
    tjDestroy(handle);
    return jpeg;
}

// A graphic stand-in: flat shapes, stripes and a gradient band, as charts and diagrams are.
Bytes graphic(int width, int height, std::mt19937& random) {
    std::vector<std::uint8_t> rgba(std::size_t(width) * height * 4, 255);
    std::uniform_int_distribution<int> colour(0, 255), side(20, 400);
    std::uniform_int_distribution<int> px(0, width - 1), py(0, height - 1);
    for (int shape = 0; shape < 60; ++shape) {
        int x0 = px(random), y0 = py(random), w = side(random), h = side(random);
        std::uint8_t r = std::uint8_t(colour(random)), g = std::uint8_t(colour(random)),
                     b = std::uint8_t(colour(random));
        for (int y = y0; y < std::min(height, y0 + h); ++y) {
            for (int x = x0; x < std::min(width, x0 + w); ++x) {
                std::uint8_t* p = &rgba[(std::size_t(y) * width + x) * 4];
                p[0] = r;
                p[1] = g;
                p[2] = std::uint8_t(b ^ ((x + y) % 16 == 0 ? 0x40 : 0));
            }
        }
    }
    for (int y = 0; y < height / 8; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &rgba[(std::size_t(y) * width + x) * 4];
            p[0] = std::uint8_t(x * 255 / width);
            p[1] = std::uint8_t(y * 255 / (height / 8 + 1));
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr);
    Bytes png(size);
    png_image_write_to_memory(&image, png.data(), &size, 0, rgba.data(), 0, nullptr);
    png.resize(size);
    return png;
}

}  // namespace

GeneratedSet generateWorkbooks(const std::string& folder, int workbooks, int pictures,
                               double minMegapixels, double maxMegapixels) {
    GeneratedSet out;
    std::mt19937 random(20240601);
    std::uniform_real_distribution<double> megapixels(minMegapixels, maxMegapixels);
    for (int w = 0; w < workbooks; ++w) {
        std::string path = folder + "/set" + std::to_string(w + 1) + ".xlsx";
        lxw_workbook* book = workbook_new(path.c_str());
        std::vector<Bytes> images;
        lxw_worksheet* sheet = nullptr;
        for (int p = 0; p < pictures; ++p) {
            if (p % 3 == 0) {
                sheet = workbook_add_worksheet(book, nullptr);
            }
            double mp = megapixels(random) * 1e6;
            int width = int(std::sqrt(mp * 4 / 3)), height = int(width * 3 / 4);
            images.push_back(p % 2 == 0 ? photo(width, height, random)
                                        : graphic(width, height, random));
            worksheet_insert_image_buffer(sheet, lxw_row_t(p * 20), 1, images.back().data(),
                                          images.back().size());
            out.largest = std::max(out.largest, images.back().size());
            out.totalBytes += images.back().size();
            ++out.pictures;
        }
        workbook_close(book);
        out.paths.push_back(path);
    }
    return out;
}

GeneratedSet cachedWorkbooks(const std::string& folder, int workbooks, int pictures,
                             double minMegapixels, double maxMegapixels) {
    // The marker holds the set's figures and is written only once every workbook is.
    const std::string marker = folder + "/complete";
    GeneratedSet set;
    if (std::ifstream in(marker); in >> set.pictures >> set.largest >> set.totalBytes) {
        for (int w = 0; w < workbooks; ++w) {
            set.paths.push_back(folder + "/set" + std::to_string(w + 1) + ".xlsx");
        }
        return set;
    }
    set = generateWorkbooks(folder, workbooks, pictures, minMegapixels, maxMegapixels);
    std::ofstream(marker) << set.pictures << ' ' << set.largest << ' ' << set.totalBytes << '\n';
    return set;
}

void writeSharedImageWorkbook(const std::string& path, int pictures, std::size_t imageBytes) {
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const std::string relsStart =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/"
        "2006/relationships\">";
    auto relationship = [&](const std::string& type, const std::string& target) {
        return relsStart + "<Relationship Id=\"rId1\" Type=\"" + rel + "/" + type + "\" Target=\"" +
               target + "\"/></Relationships>";
    };
    std::string anchors;
    for (int p = 0; p < pictures; ++p) {
        const std::string row = std::to_string(p * 3);
        anchors +=
            "<xdr:oneCellAnchor><xdr:from><xdr:col>1</xdr:col><xdr:colOff>0</xdr:colOff>"
            "<xdr:row>" +
            row +
            "</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from>"
            "<xdr:ext cx=\"9525\" cy=\"9525\"/><xdr:pic><xdr:nvPicPr><xdr:cNvPr id=\"" +
            std::to_string(p + 2) + "\" name=\"Picture " + std::to_string(p + 1) +
            "\"/><xdr:cNvPicPr/></xdr:nvPicPr><xdr:blipFill><a:blip r:embed=\"rId1\"/>"
            "</xdr:blipFill><xdr:spPr/></xdr:pic><xdr:clientData/></xdr:oneCellAnchor>";
    }
    // A 24-bit BMP of one colour: header, then rows of zero bytes.
    const std::uint32_t width = 2048;
    const std::uint32_t height = std::uint32_t(std::max<std::size_t>(1, imageBytes / (width * 3)));
    const std::uint32_t pixelBytes = width * 3 * height;
    Bytes bmp(54 + pixelBytes, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int b = 0; b < 4; ++b)
            bmp[at + std::size_t(b)] = std::uint8_t(v >> (8 * b));
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, std::uint32_t(bmp.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    bmp[26] = 1;
    bmp[28] = 24;
    put32(34, pixelBytes);

    const std::vector<std::pair<std::string, std::string>> parts = {
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/"
         "vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
         "ContentType=\"application/xml\"/><Default Extension=\"bmp\" "
         "ContentType=\"image/bmp\"/></Types>"},
        {"_rels/.rels", relationship("officeDocument", "xl/workbook.xml")},
        {"xl/workbook.xml",
         "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
         "xmlns:r=\"" +
             rel +
             "\"><sheets><sheet name=\"Shared\" sheetId=\"1\" "
             "r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels", relationship("worksheet", "worksheets/sheet1.xml")},
        {"xl/worksheets/sheet1.xml",
         "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
         "xmlns:r=\"" +
             rel + "\"><sheetData/><drawing r:id=\"rId1\"/></worksheet>"},
        {"xl/worksheets/_rels/sheet1.xml.rels",
         relationship("drawing", "../drawings/drawing1.xml")},
        {"xl/drawings/drawing1.xml",
         "<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/"
         "spreadsheetDrawing\" xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
         "xmlns:r=\"" +
             rel + "\">" + anchors + "</xdr:wsDr>"},
        {"xl/drawings/_rels/drawing1.xml.rels", relationship("image", "../media/image1.bmp")},
    };
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
    for (const auto& [name, content] : parts) {
        zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
        zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    }
    zip_source_t* image = zip_source_buffer(archive, bmp.data(), bmp.size(), 0);
    zip_file_add(archive, "xl/media/image1.bmp", image, 0);
    zip_close(archive);
}

// The program's road: create, open, count, select and copy every picture, quit.
double listAndCopy(const std::vector<std::string>& paths, std::size_t& copied) {
    Clock::time_point start = Clock::now();
    automation::PictureClipboard clipboard;
    for (const std::string& path : paths) {
        automation::NativeExcel excel(clipboard);
        excel.openWorkbook(QString::fromStdString(path));
        int sheets = excel.worksheetCount();
        for (int s = 1; s <= sheets; ++s) {
            int pictures = excel.pictureCount(s);
            for (int p = 1; p <= pictures; ++p) {
                excel.selectPicture(s, p);
                excel.copyPicture(s, p);
                copied += clipboard.picture().bytes().size() > 0 ? 1 : 0;
            }
        }
        excel.setDisplayAlerts(false);
        excel.quit();
    }
    clipboard.clear();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long statusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::stol(line.substr(std::string(key).size()));
        }
    }
    return -1;
}

void resetPeakMemory() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace bench
