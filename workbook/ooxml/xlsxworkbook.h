#pragma once

#include <memory>

#include "workbook/ooxml/cellpictures.h"
#include "workbook/ooxml/package.h"
#include "workbook/ooxml/packageimages.h"
#include "workbook/ooxml/sheetscanner.h"
#include "workbook/ooxml/zipreader.h"
#include "workbook/workbook.h"

namespace workbook {

// A workbook in an Office Open XML package (.xlsx, .xlsm, .xltx, .xltm; transitional or
// strict; and .xlsb, whose workbook and worksheet parts are binary records). The structure is
// read when it opens; images are read when asked for.
class XlsxWorkbook : public Workbook {
public:
    static Result<std::unique_ptr<Workbook>> open(std::unique_ptr<ZipReader> zip,
                                                  const OpenOptions& options = {});

    const std::vector<Worksheet>& worksheets() const override { return m_worksheets; }
    std::optional<Problem> readPictureBytes(std::size_t sheet, std::size_t picture,
                                            ByteSink& sink) override;
    using Workbook::readPictureBytes;

private:
    // Where a picture's bytes are, or why there are none.
    struct Image {
        std::optional<std::uint64_t> entry;
        std::optional<Problem> problem;
    };

    explicit XlsxWorkbook(std::unique_ptr<ZipReader> zip)
        : m_zip(std::move(zip)), m_package(*m_zip) {}
    std::optional<Problem> load();
    Result<std::string> mainPart();
    // What a worksheet part holds besides its cells: its drawing part ("" for none) and its
    // in-cell pictures in row-major cell order.
    struct SheetParts {
        std::string drawing;
        std::vector<PictureInfo> cellPictures;
        std::vector<Image> cellImages;
    };

    std::optional<Problem> loadWorksheet(const std::string& sheetPart, Worksheet& sheet,
                                         std::vector<Image>& images);
    std::optional<Problem> loadSheetDrawing(const std::string& drawing, Worksheet& sheet,
                                            std::vector<Image>& images);
    Result<std::string> drawingId(const std::string& sheetPart,
                                  std::vector<SheetScanner::Cell>& cells);
    Result<std::string> drawingPart(const std::string& sheetPart,
                                    std::vector<SheetScanner::Cell>& cells);
    void listCellPictures(const std::string& sheetPart, std::vector<SheetScanner::Cell> cells,
                          SheetParts& parts);
    std::optional<Problem> loadDrawing(const std::string& drawingPart, Worksheet& sheet,
                                       std::vector<Image>& images);
    // The format, pixel size, byte count and identity of the image in entry, sniffed once per
    // entry however many pictures show it.
    void describeImage(std::uint64_t entry, PictureInfo& info);
    void countImageUses();

    std::unique_ptr<ZipReader> m_zip;
    Package m_package;
    std::vector<Worksheet> m_worksheets;
    std::vector<std::vector<Image>> m_images;
    std::unordered_map<std::uint64_t, ImageInfo> m_sniffed;
    std::size_t m_pictureCount = 0;
    bool m_binary = false;  // an .xlsb: binary workbook and worksheet parts
    // Worksheet part's entry -> what it holds, for sheet entries that share one.
    std::unordered_map<std::uint64_t, SheetParts> m_sheetParts;
    CellPictureIndex m_cellPictures;
    // Drawing part's entry -> its pictures, for worksheets that share one.
    std::unordered_map<std::uint64_t, std::pair<std::vector<PictureInfo>, std::vector<Image>>>
        m_drawings;
    SharedImages m_sharedImages;
};

}  // namespace workbook
