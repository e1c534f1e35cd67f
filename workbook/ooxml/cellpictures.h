#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "workbook/ooxml/package.h"
#include "workbook/problem.h"

namespace workbook {

// The image of one in-cell picture: a part of the package, a link, or why there is neither.
struct CellImage {
    std::optional<std::uint64_t> entry;
    bool linked = false;
    std::string link;
    std::string name;
    std::string description;
    std::optional<Problem> problem;
};

// Where the pictures placed in cells of an .xlsx are kept, read once per workbook: the rich
// values of "Place in Cell" and IMAGE() (value metadata -> rich value -> its relationship ->
// the image part) and the DISPIMG images of xl/cellimages.xml. Worksheet cells name them by
// their value-metadata index (vm="3") or by the id in their formula (DISPIMG("ID_...",1)).
class CellPictureIndex {
public:
    // Reads the parts the workbook part relates (or that lie under their usual names). Damage in
    // them is noted and loses only the in-cell pictures it touches.
    static CellPictureIndex read(Package& package,
                                 const std::vector<Relationship>& workbookRelationships,
                                 std::vector<Problem>& damage);

    bool empty() const { return m_byValueMetadata.empty() && m_byId.empty(); }
    bool hasDispimg() const { return !m_byId.empty(); }
    // Which value-metadata indexes (1-based, as cells write them) hold an image; other rich
    // values (data types, stocks) are not pictures.
    const std::vector<bool>& imageValueMetadata() const { return m_isImage; }

    const CellImage* byValueMetadata(std::uint32_t vm) const;
    const CellImage* byDispimgId(std::string_view id) const;

private:
    void readRichValues(Package& package, const std::vector<Relationship>& relationships,
                        std::vector<Problem>& damage);
    void readCellImages(Package& package, const std::string& part, std::vector<Problem>& damage);

    std::vector<std::optional<CellImage>> m_byValueMetadata;  // index vm - 1
    std::vector<bool> m_isImage;                              // index vm
    std::unordered_map<std::string, CellImage> m_byId;
};

// The id a DISPIMG formula names ("ID_4F0A..." of _xlfn.DISPIMG("ID_4F0A...",1)), or empty.
std::string dispimgId(std::string_view formula);

}  // namespace workbook
