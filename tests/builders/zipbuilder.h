#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// Writes a zip archive from entries given as strings, for packages libxlsxwriter cannot make.
class ZipBuilder {
public:
    enum class Method { Deflate, Store };

    ZipBuilder& add(std::string name, std::string content, Method method = Method::Deflate);
    ZipBuilder& addBytes(std::string name, const std::vector<std::uint8_t>& content,
                         Method method = Method::Deflate);
    // Drops an entry added before, so a test can start from a full package and take away.
    ZipBuilder& remove(const std::string& name);
    // Replaces the content of an entry added before.
    ZipBuilder& replace(const std::string& name, std::string content);

    // Rewrites every entry's content, e.g. to swap namespaces throughout.
    ZipBuilder& transform(const std::function<std::string(std::string)>& rewrite);
    const std::string& content(const std::string& name) const;

    std::vector<std::uint8_t> bytes() const;
    void save(const std::string& path) const;

private:
    struct Entry {
        std::string name;
        std::string content;
        Method method;
    };
    std::vector<Entry> m_entries;
};

// The pieces of a small package that tests combine: one workbook with the given sheets, each
// with an optional drawing.
struct SheetSpec {
    std::string name;
    // "worksheet", "chartsheet", "dialogsheet", "xlMacrosheet"; a worksheet with a drawing
    // gets xl/drawings/drawingN.xml holding drawingXml.
    std::string kind = "worksheet";
    std::string drawingXml;  // complete drawing part; empty for none
    // Extra relationships of the drawing: {id, target, external}.
    std::vector<std::pair<std::string, std::string>> drawingRelationships;
    std::vector<std::string> externalRelationships;  // ids whose target is external
};

// A package with [Content_Types].xml, the package relationships, the workbook, its sheets and
// their drawings; media are added by the caller.
ZipBuilder packageWith(const std::vector<SheetSpec>& sheets);

// A drawing part around the given anchors, with the usual namespaces declared on the root.
std::string drawingXml(const std::string& anchors);
// A two-cell anchor at (column, row) holding a picture that embeds relationship rId.
std::string pictureAnchor(int column, int row, const std::string& rId,
                          const std::string& name = "Picture");
// The bare xdr:pic element for relationship rId.
std::string picElement(const std::string& rId, const std::string& name = "Picture",
                       const std::string& blipAttribute = "r:embed");

// In-cell pictures, for a package made with packageWith. Rich values under folder ("xl/"):
// value metadata 1 and 2 local images (folder + "media/red.png" through "../media/red.png",
// blue.png), 3 a data type (not a picture), 4 a web image of https://example.com/cat.png;
// DISPIMG image ID_GREEN -> folder + "media/green.png" in folder + "cellimages.xml". Images are
// added by the caller.
void addRichValueParts(ZipBuilder& zip, const std::string& folder);
void addCellImageParts(ZipBuilder& zip, const std::string& folder);
// A worksheet whose cells show them, out of order and partly without references: D2 ID_GREEN,
// B3 the data type, C3 blue, F4 the web image, A5 red, B5 a DISPIMG of a missing image; its
// drawing is relationship rIdDrawing, as packageWith makes it.
std::string worksheetWithPictureCells();

}  // namespace testing_support
