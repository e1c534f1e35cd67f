#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// Writes real workbooks with libxlsxwriter, the way a spreadsheet application lays them out:
// worksheets (hidden or not), chart sheets, pictures, sheet backgrounds and header images.
class XlsxBuilder {
public:
    XlsxBuilder& worksheet(std::string name, bool hidden = false);
    XlsxBuilder& chartsheet(std::string name);
    // A picture on the last worksheet, its top-left corner in the zero-based cell.
    XlsxBuilder& picture(int row, int column, std::vector<std::uint8_t> image,
                         std::string description = {});
    XlsxBuilder& background(std::vector<std::uint8_t> image);
    XlsxBuilder& headerImage(std::vector<std::uint8_t> image);

    // Writes the workbook; throws std::runtime_error when libxlsxwriter refuses.
    void save(const std::string& path) const;
    std::vector<std::uint8_t> bytes(const std::string& scratchFolder) const;

private:
    struct Picture {
        int row;
        int column;
        std::vector<std::uint8_t> image;
        std::string description;
    };
    struct Sheet {
        std::string name;
        bool chart = false;
        bool hidden = false;
        std::vector<Picture> pictures;
        std::vector<std::uint8_t> background;
        std::vector<std::uint8_t> header;
    };
    Sheet& last();
    std::vector<Sheet> m_sheets;
};

// Small images of each kind libxlsxwriter takes, made in code.
std::vector<std::uint8_t> pngImage(int width, int height, unsigned rgb = 0x3366cc);
std::vector<std::uint8_t> jpegImage(int width, int height, unsigned rgb = 0xcc6633);
std::vector<std::uint8_t> bmpImage(int width, int height, unsigned rgb = 0x33cc66);
std::vector<std::uint8_t> gifImage();  // 1 x 1

std::vector<std::uint8_t> readFileBytes(const std::string& path);

}  // namespace testing_support
