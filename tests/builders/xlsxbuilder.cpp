#include "builders/xlsxbuilder.h"

#include <xlsxwriter.h>

#include <QBuffer>
#include <QImage>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testing_support {
namespace {

void check(lxw_error error, const char* what) {
    if (error != LXW_NO_ERROR) {
        throw std::runtime_error(std::string("XlsxBuilder: ") + what + ": " + lxw_strerror(error));
    }
}

std::vector<std::uint8_t> encoded(int width, int height, unsigned rgb, const char* format) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor::fromRgb(rgb));
    // A diagonal line, so the pixels are not all alike.
    for (int i = 0; i < std::min(width, height); ++i) {
        image.setPixel(i, i, 0xffffffff);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format)) {
        throw std::runtime_error(std::string("cannot encode ") + format);
    }
    return {bytes.begin(), bytes.end()};
}

}  // namespace

XlsxBuilder::Sheet& XlsxBuilder::last() {
    if (m_sheets.empty() || m_sheets.back().chart) {
        throw std::runtime_error("XlsxBuilder: add a worksheet first");
    }
    return m_sheets.back();
}

XlsxBuilder& XlsxBuilder::worksheet(std::string name, bool hidden) {
    m_sheets.push_back({std::move(name), false, hidden, {}, {}, {}});
    return *this;
}

XlsxBuilder& XlsxBuilder::chartsheet(std::string name) {
    m_sheets.push_back({std::move(name), true, false, {}, {}, {}});
    return *this;
}

XlsxBuilder& XlsxBuilder::picture(int row, int column, std::vector<std::uint8_t> image,
                                  std::string description) {
    last().pictures.push_back({row, column, std::move(image), std::move(description)});
    return *this;
}

XlsxBuilder& XlsxBuilder::background(std::vector<std::uint8_t> image) {
    last().background = std::move(image);
    return *this;
}

XlsxBuilder& XlsxBuilder::headerImage(std::vector<std::uint8_t> image) {
    last().header = std::move(image);
    return *this;
}

void XlsxBuilder::save(const std::string& path) const {
    lxw_workbook* workbook = workbook_new(path.c_str());
    if (workbook == nullptr) {
        throw std::runtime_error("XlsxBuilder: cannot create " + path);
    }
    std::string firstWorksheet;
    std::vector<std::string> headerFiles;
    for (const Sheet& sheet : m_sheets) {
        if (sheet.chart) {
            continue;
        }
        if (firstWorksheet.empty()) {
            firstWorksheet = sheet.name;
        }
    }
    for (const Sheet& sheet : m_sheets) {
        if (sheet.chart) {
            lxw_chartsheet* chartsheet = workbook_add_chartsheet(workbook, sheet.name.c_str());
            lxw_chart* chart = workbook_add_chart(workbook, LXW_CHART_COLUMN);
            std::string range = "='" + firstWorksheet + "'!$A$1:$A$3";
            chart_add_series(chart, nullptr, range.c_str());
            check(chartsheet_set_chart(chartsheet, chart), "chart sheet");
            continue;
        }
        lxw_worksheet* worksheet = workbook_add_worksheet(workbook, sheet.name.c_str());
        if (sheet.name == firstWorksheet) {
            for (int row = 0; row < 3; ++row) {
                worksheet_write_number(worksheet, lxw_row_t(row), 0, row + 1, nullptr);
            }
        }
        if (sheet.hidden) {
            worksheet_hide(worksheet);
        }
        for (const Picture& p : sheet.pictures) {
            lxw_image_options options{};
            options.description = const_cast<char*>(p.description.c_str());
            check(worksheet_insert_image_buffer_opt(
                      worksheet, lxw_row_t(p.row), lxw_col_t(p.column), p.image.data(),
                      p.image.size(), p.description.empty() ? nullptr : &options),
                  "picture");
        }
        if (!sheet.background.empty()) {
            check(worksheet_set_background_buffer(worksheet, sheet.background.data(),
                                                  sheet.background.size()),
                  "background");
        }
        if (!sheet.header.empty()) {
            std::string file = path + ".header" + std::to_string(headerFiles.size()) + ".png";
            std::ofstream(file, std::ios::binary)
                .write(reinterpret_cast<const char*>(sheet.header.data()),
                       std::streamsize(sheet.header.size()));
            headerFiles.push_back(file);
            lxw_header_footer_options options{};
            options.image_left = const_cast<char*>(headerFiles.back().c_str());
            check(worksheet_set_header_opt(worksheet, "&L&G", &options), "header image");
        }
    }
    lxw_error closed = workbook_close(workbook);
    for (const std::string& file : headerFiles) {
        std::remove(file.c_str());
    }
    check(closed, "close");
}

std::vector<std::uint8_t> XlsxBuilder::bytes(const std::string& scratchFolder) const {
    std::string path = scratchFolder + "/built.xlsx";
    save(path);
    std::vector<std::uint8_t> out = readFileBytes(path);
    std::remove(path.c_str());
    return out;
}

std::vector<std::uint8_t> pngImage(int width, int height, unsigned rgb) {
    return encoded(width, height, rgb, "PNG");
}

std::vector<std::uint8_t> jpegImage(int width, int height, unsigned rgb) {
    return encoded(width, height, rgb, "JPEG");
}

std::vector<std::uint8_t> bmpImage(int width, int height, unsigned rgb) {
    return encoded(width, height, rgb, "BMP");
}

std::vector<std::uint8_t> gifImage() {
    static const std::uint8_t kGif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01,
                                        0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00,
                                        0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01,
                                        0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
    return {std::begin(kGif), std::end(kGif)};
}

std::vector<std::uint8_t> readFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace testing_support
