#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "builders/zipbuilder.h"

namespace testing_support {

// Writes OpenDocument spreadsheets laid out as a spreadsheet application writes them: the
// mimetype entry first and stored, the manifest, and content.xml whose tables hold their
// sheet-anchored shapes in table:shapes and their cell-anchored shapes inside the cells, rows
// and columns between them written as repeats; images under Pictures/.
class OdsBuilder {
public:
    OdsBuilder& table(std::string name);
    // Shapes of the last table: on the sheet, or in the zero-based cell.
    OdsBuilder& sheetShape(std::string xml);
    OdsBuilder& cellShape(int column, int row, std::string xml);
    // Markup placed first inside the last table (a table:table-source, say).
    OdsBuilder& tableMarkup(std::string xml);
    // An image the package holds at path ("Pictures/a.png").
    OdsBuilder& image(std::string path, std::vector<std::uint8_t> bytes);
    // The package's media type (the mimetype entry and the manifest's root entry).
    OdsBuilder& mimetype(std::string type);
    // The manifest marks content.xml encrypted, and content.xml is no longer XML.
    OdsBuilder& encrypted();

    std::string contentXml() const;
    ZipBuilder package(ZipBuilder::Method method = ZipBuilder::Method::Deflate) const;
    std::vector<std::uint8_t> bytes() const;
    // The same spreadsheet as one flat XML document, the package's images inline as base64.
    std::string flat() const;

private:
    struct Table {
        std::string name;
        std::string markup;
        std::vector<std::string> sheetShapes;
        // (row, column) -> the shapes in that cell
        std::map<std::pair<int, int>, std::vector<std::string>> cellShapes;
    };
    std::string body(bool flat) const;
    std::vector<Table> m_tables;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> m_images;
    std::string m_mimetype = "application/vnd.oasis.opendocument.spreadsheet";
    bool m_encrypted = false;
};

// A frame holding one draw:image per href, the first the preferred one, at draw:z-index z
// (none when z < 0).
std::string odsFrame(const std::vector<std::string>& hrefs, int z = -1,
                     const std::string& name = "Picture");
// A chart as a frame holds it: the object, then its replacement image.
std::string odsChartFrame(const std::string& replacementHref, int z = -1);
// A group of shapes.
std::string odsGroup(const std::vector<std::string>& members, int z = -1);

}  // namespace testing_support
