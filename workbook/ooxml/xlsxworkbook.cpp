#include "workbook/ooxml/xlsxworkbook.h"

#include <algorithm>
#include <array>

#include "workbook/limits.h"
#include "workbook/ooxml/sheetscanner.h"
#include "workbook/ooxml/xlsbparts.h"

namespace workbook {
namespace {

constexpr std::string_view kMarkupCompatibility =
    "http://schemas.openxmlformats.org/markup-compatibility/2006";

// The namespaces whose content the engine understands, so that an mc:Choice requiring only
// these is taken: the base vocabularies (transitional and strict) and the extensions the
// spreadsheet application reads in drawings.
constexpr std::array<std::string_view, 22> kUnderstoodNamespaces = {
    "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing",
    "http://purl.oclc.org/ooxml/drawingml/spreadsheetDrawing",
    "http://schemas.openxmlformats.org/drawingml/2006/main",
    "http://purl.oclc.org/ooxml/drawingml/main",
    "http://schemas.openxmlformats.org/drawingml/2006/picture",
    "http://purl.oclc.org/ooxml/drawingml/picture",
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
    "http://purl.oclc.org/ooxml/officeDocument/relationships",
    "http://schemas.openxmlformats.org/drawingml/2006/chart",
    "http://purl.oclc.org/ooxml/drawingml/chart",
    "http://schemas.microsoft.com/office/drawing/2010/main",                   // a14
    "http://schemas.microsoft.com/office/drawing/2012/main",                   // a15
    "http://schemas.microsoft.com/office/drawing/2014/main",                   // a16
    "http://schemas.microsoft.com/office/drawing/2010/slicer",                 // sle
    "http://schemas.microsoft.com/office/drawing/2012/slicer",                 // sle15
    "http://schemas.microsoft.com/office/drawing/2012/timeslicer",             // tsle
    "http://schemas.microsoft.com/office/drawing/2014/chartex",                // cx
    "http://schemas.microsoft.com/office/drawing/2015/9/8/chartex",            // cx1
    "http://schemas.microsoft.com/office/drawing/2016/ink",                    // aink
    "http://schemas.microsoft.com/office/drawing/2017/model3d",                // am3d
    "http://schemas.microsoft.com/office/webextensions/webextension/2010/11",  // we
    "http://schemas.microsoft.com/office/spreadsheetml/2009/9/main",           // x14
};

bool isUnderstood(std::string_view uri) {
    for (std::string_view known : kUnderstoodNamespaces) {
        if (uri == known) {
            return true;
        }
    }
    return false;
}

bool isMarkupCompatibility(pugi::xml_node node, std::string_view local) {
    return node.type() == pugi::node_element && localName(node.name()) == local &&
           elementNamespace(node) == kMarkupCompatibility;
}

// The branch of an mc:AlternateContent that is read: the first Choice whose every required
// prefix names an understood namespace (declared on the Choice itself or above), else the
// Fallback; none when neither fits.
pugi::xml_node chosenBranch(pugi::xml_node alternate) {
    pugi::xml_node fallback;
    for (pugi::xml_node child = alternate.first_child(); child; child = child.next_sibling()) {
        if (isMarkupCompatibility(child, "Choice")) {
            std::string_view requires_ = child.attribute("Requires").value();
            bool ok = true;
            std::size_t start = 0;
            while (ok && start < requires_.size()) {
                std::size_t end = requires_.find_first_of(" \t\r\n", start);
                if (end == std::string_view::npos) {
                    end = requires_.size();
                }
                if (end > start) {
                    ok = isUnderstood(namespaceOf(child, requires_.substr(start, end - start)));
                }
                start = end + 1;
            }
            if (ok) {
                return child;
            }
        } else if (!fallback && isMarkupCompatibility(child, "Fallback")) {
            fallback = child;
        }
    }
    return fallback;
}

bool isAnchor(std::string_view local) {
    return local == "twoCellAnchor" || local == "oneCellAnchor" || local == "absoluteAnchor";
}

// The anchors of a drawing in document order, alternate content resolved.
void collectAnchors(pugi::xml_node container, std::vector<pugi::xml_node>& anchors) {
    for (pugi::xml_node child = container.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        if (isMarkupCompatibility(child, "AlternateContent")) {
            if (pugi::xml_node branch = chosenBranch(child)) {
                collectAnchors(branch, anchors);
            }
        } else if (isAnchor(localName(child.name()))) {
            anchors.push_back(child);
        }
    }
}

// The shape an anchor places: its first child that is not a position, size or client-data
// element, looking into alternate content.
pugi::xml_node anchorObject(pugi::xml_node container) {
    for (pugi::xml_node child = container.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        std::string_view local = localName(child.name());
        if (local == "from" || local == "to" || local == "pos" || local == "ext" ||
            local == "clientData") {
            continue;
        }
        if (isMarkupCompatibility(child, "AlternateContent")) {
            if (pugi::xml_node branch = chosenBranch(child)) {
                if (pugi::xml_node object = anchorObject(branch)) {
                    return object;
                }
            }
            continue;
        }
        return child;
    }
    return {};
}

std::string anchorCell(pugi::xml_node anchor) {
    pugi::xml_node from = childNamed(anchor, "from");
    if (!from) {
        return {};
    }
    auto column = xmlNumber(childNamed(from, "col").text().get());
    auto row = xmlNumber(childNamed(from, "row").text().get());
    if (!column || !row) {
        return {};
    }
    return cellName(*column, *row);
}

// Relationships by id; the first of a duplicated id wins.
class RelationshipIndex {
public:
    explicit RelationshipIndex(const std::vector<Relationship>& relationships) {
        for (const Relationship& r : relationships) {
            m_byId.emplace(r.id, &r);
        }
    }
    const Relationship* find(std::string_view id) const {
        auto it = m_byId.find(std::string(id));
        return it == m_byId.end() ? nullptr : it->second;
    }

private:
    std::unordered_map<std::string, const Relationship*> m_byId;
};

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The in-cell picture cells of a worksheet parsed whole (a UTF-16 part), as the scanner notes
// them while a part streams past.
std::vector<SheetScanner::Cell> treeCells(pugi::xml_node worksheet, const CellPictureIndex& index) {
    std::vector<SheetScanner::Cell> cells;
    const std::vector<bool>& images = index.imageValueMetadata();
    std::int64_t row = -1;
    for (pugi::xml_node r = childNamed(childNamed(worksheet, "sheetData"), "row"); r;
         r = r.next_sibling()) {
        if (r.type() != pugi::node_element || localName(r.name()) != "row") {
            continue;
        }
        const std::uint32_t number = r.attribute("r").as_uint();
        row = number > 0 ? std::int64_t(number) - 1 : row + 1;
        std::int64_t column = -1;
        for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element || localName(c.name()) != "c") {
                continue;
            }
            std::string_view reference = c.attribute("r").value();
            std::size_t letters = 0;
            std::uint64_t col = 0;
            while (letters < reference.size() && letters < 3 && reference[letters] >= 'A' &&
                   reference[letters] <= 'Z') {
                col = col * 26 + std::uint64_t(reference[letters++] - 'A' + 1);
            }
            column = letters > 0 ? std::int64_t(col) - 1 : column + 1;
            const std::uint32_t vm = c.attribute("vm").as_uint();
            std::string id = index.hasDispimg() ? dispimgId(childNamed(c, "f").text().get()) : "";
            if ((vm > 0 && vm < images.size() && images[vm]) || !id.empty()) {
                if (cells.size() >= kMaxPictures) {
                    break;
                }
                cells.push_back({std::uint32_t(std::max<std::int64_t>(row, 0)),
                                 std::uint32_t(std::max<std::int64_t>(column, 0)),
                                 id.empty() ? vm : 0, std::move(id)});
            }
        }
    }
    return cells;
}

// The sheet list of an XML workbook part, in workbook order.
Result<std::vector<SheetEntry>> xmlSheetList(Package& package, const std::string& mainPart) {
    auto part = package.readXml(mainPart);
    if (!part) {
        return part.problem();
    }
    pugi::xml_node root = part.value()->root();
    if (localName(root.name()) != "workbook") {
        return damaged(mainPart, "the root element is not a workbook");
    }
    std::vector<SheetEntry> entries;
    pugi::xml_node sheets = childNamed(root, "sheets");
    for (pugi::xml_node sheet = sheets.first_child(); sheet; sheet = sheet.next_sibling()) {
        if (sheet.type() == pugi::node_element && localName(sheet.name()) == "sheet") {
            entries.push_back(
                {sheet.attribute("name").value(), std::string(relationshipAttribute(sheet, "id"))});
        }
    }
    return entries;
}

}  // namespace

Result<std::unique_ptr<Workbook>> XlsxWorkbook::open(std::unique_ptr<ZipReader> zip,
                                                     const OpenOptions& options) {
    std::unique_ptr<XlsxWorkbook> workbook(new XlsxWorkbook(std::move(zip)));
    workbook->m_sniff = options.sniff;
    if (auto problem = workbook->load()) {
        return *problem;
    }
    return std::unique_ptr<Workbook>(std::move(workbook));
}

Result<std::string> XlsxWorkbook::mainPart() {
    auto relationships = m_package.relationships("");
    if (!relationships) {
        return relationships.problem();
    }
    for (const Relationship& r : relationships.value()) {
        if (r.kind() == "officeDocument" && !r.external) {
            if (!m_package.findPart(r.target)) {
                return damaged("_rels/.rels", "the main part " + r.target + " is missing");
            }
            return r.target;
        }
    }
    // Packages written without a package relationship part still keep the usual names.
    for (std::string_view usual : {"xl/workbook.xml", "xl/workbook.bin"}) {
        if (m_package.findPart(usual)) {
            return std::string(usual);
        }
    }
    if (m_package.findPart("word/document.xml")) {
        return Problem{ProblemKind::NotAWorkbook, "", "it is a word-processing document"};
    }
    if (m_package.findPart("ppt/presentation.xml")) {
        return Problem{ProblemKind::NotAWorkbook, "", "it is a presentation"};
    }
    return Problem{ProblemKind::NotAWorkbook, "", "it is a zip archive without a workbook part"};
}

std::optional<Problem> XlsxWorkbook::load() {
    if (auto problem = m_package.loadContentTypes()) {
        return problem;
    }
    auto main = mainPart();
    if (!main) {
        return main.problem();
    }
    std::string type = m_package.contentType(main.value());
    if (contains(type, "wordprocessingml")) {
        return Problem{ProblemKind::NotAWorkbook, "", "it is a word-processing document"};
    }
    if (contains(type, "presentationml")) {
        return Problem{ProblemKind::NotAWorkbook, "", "it is a presentation"};
    }
    // A binary workbook (.xlsb) keeps its sheet list and worksheets in binary records; its
    // relationships and drawings are those of any other package.
    m_binary = contains(type, "sheet.binary") || endsWith(asciiLower(main.value()), ".bin");

    auto relationships = m_package.relationships(main.value());
    if (!relationships) {
        return relationships.problem();
    }
    auto sheets = m_binary
                      ? readXlsbSheetList(*m_zip, *m_package.findPart(main.value()), m_problems)
                      : xmlSheetList(m_package, main.value());
    if (!sheets) {
        return sheets.problem();
    }
    if (!m_binary) {
        std::vector<Problem> damage;
        m_cellPictures = CellPictureIndex::read(m_package, relationships.value(), damage);
        for (Problem& problem : damage) {
            noteProblem(std::move(problem));
        }
    }
    RelationshipIndex byId(relationships.value());
    const std::string relationshipsPart = relationshipsPartName(main.value());
    const bool relationshipsMissing = !m_package.findPart(relationshipsPart);
    for (const SheetEntry& sheet : sheets.value()) {
        // Chart, dialog and macro sheets sit between worksheets; entries whose relationship
        // is empty or dangling are not worksheets either. A worksheet whose part, or whose
        // workbook's relationship part, is gone is damage: its pictures are lost, and the
        // intact worksheets are still read.
        std::string_view id = sheet.relationshipId;
        const Relationship* r = id.empty() ? nullptr : byId.find(id);
        if (r == nullptr && !id.empty() && relationshipsMissing) {
            noteProblem(damaged(relationshipsPart, "the part is missing"));
        }
        if (r == nullptr || r->external || r->kind() != "worksheet") {
            continue;
        }
        if (!m_package.findPart(r->target)) {
            noteProblem(damaged(r->target, "the part is missing"));
            continue;
        }
        if (m_worksheets.size() >= kMaxWorksheets) {
            return tooLarge(main.value(),
                            "more than " + std::to_string(kMaxWorksheets) + " worksheets");
        }
        Worksheet worksheet;
        worksheet.name = sheet.name;
        std::vector<Image> images;
        if (auto problem = loadWorksheet(r->target, worksheet, images)) {
            return problem;
        }
        m_pictureCount += worksheet.pictures.size() + worksheet.cellPictures.size();
        if (m_pictureCount > kMaxPictures) {
            return tooLarge(r->target, "more than " + std::to_string(kMaxPictures) +
                                           " pictures in the workbook");
        }
        m_worksheets.push_back(std::move(worksheet));
        m_images.push_back(std::move(images));
    }
    countImageUses();
    return std::nullopt;
}

void XlsxWorkbook::countImageUses() {
    for (const std::vector<Image>& images : m_images) {
        for (const Image& image : images) {
            if (image.entry) {
                m_sharedImages.noteUse(*image.entry);
            }
        }
    }
}

Result<std::string> XlsxWorkbook::drawingId(const std::string& sheetPart,
                                            std::vector<SheetScanner::Cell>& cells) {
    auto entry = m_package.findPart(sheetPart);
    if (!entry) {
        return std::string();
    }
    if (m_binary) {
        return readXlsbDrawingId(*m_zip, *entry);
    }
    SheetScanner scanner(m_zip->name(*entry));
    if (!m_cellPictures.empty()) {
        scanner.collectCells(&m_cellPictures.imageValueMetadata(), m_cellPictures.hasDispimg());
    }
    bool stopped = false;
    auto problem = m_zip->stream(*entry, kMaxWorksheetPartBytes, ZipReader::Budget::Open,
                                 [&](const char* data, std::size_t size) {
                                     stopped = !scanner.feed(data, size);
                                     return !stopped;
                                 });
    if (problem) {
        return *problem;
    }
    if (!stopped) {
        scanner.finish();
    }
    if (scanner.problem()) {
        return *scanner.problem();
    }
    if (!scanner.needsTree()) {
        cells = scanner.cells();
        return scanner.drawingId().value_or(std::string());
    }
    auto part = m_package.readXml(sheetPart);
    if (!part) {
        return part.problem();
    }
    pugi::xml_node root = part.value()->root();
    if (!m_cellPictures.empty()) {
        cells = treeCells(root, m_cellPictures);
    }
    return std::string(relationshipAttribute(childNamed(root, "drawing"), "id"));
}

std::optional<Problem> XlsxWorkbook::loadWorksheet(const std::string& sheetPart, Worksheet& sheet,
                                                   std::vector<Image>& images) {
    // Sheet entries may share a part, and worksheets a drawing: each is read once. Parts are
    // known by their zip entry, as names may differ in case only.
    std::uint64_t sheetEntry = *m_package.findPart(sheetPart);
    auto known = m_sheetParts.find(sheetEntry);
    if (known == m_sheetParts.end()) {
        std::vector<SheetScanner::Cell> cells;
        auto drawing = drawingPart(sheetPart, cells);
        if (!drawing) {
            return drawing.problem();
        }
        SheetParts parts;
        parts.drawing = std::move(drawing.value());
        listCellPictures(sheetPart, std::move(cells), parts);
        known = m_sheetParts.emplace(sheetEntry, std::move(parts)).first;
    }
    if (auto problem = loadSheetDrawing(known->second.drawing, sheet, images)) {
        return problem;
    }
    // In-cell pictures follow the drawing's, so their bytes are read with the indexes after.
    sheet.cellPictures = known->second.cellPictures;
    images.insert(images.end(), known->second.cellImages.begin(), known->second.cellImages.end());
    return std::nullopt;
}

void XlsxWorkbook::listCellPictures(const std::string& sheetPart,
                                    std::vector<SheetScanner::Cell> cells, SheetParts& parts) {
    std::stable_sort(cells.begin(), cells.end(), [](const auto& a, const auto& b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
    for (const SheetScanner::Cell& cell : cells) {
        const CellImage* found = cell.dispimgId.empty()
                                     ? m_cellPictures.byValueMetadata(cell.valueMetadata)
                                     : m_cellPictures.byDispimgId(cell.dispimgId);
        PictureInfo info;
        Image image;
        info.cell = cellName(cell.column, cell.row);
        if (found == nullptr) {
            // A DISPIMG naming an image that cellimages.xml does not hold.
            info.name = cell.dispimgId;
            image.problem = damaged(normalizedPartName(sheetPart),
                                    "the cell " + info.cell + " shows the image " + cell.dispimgId +
                                        ", which is missing");
        } else {
            info.name = found->name;
            info.description = found->description;
            info.linked = found->linked;
            info.link = found->link;
            image.entry = found->entry;
            image.problem = found->problem;
        }
        if (image.entry) {
            describeImage(*image.entry, info);
        }
        parts.cellPictures.push_back(std::move(info));
        parts.cellImages.push_back(std::move(image));
    }
}

std::optional<Problem> XlsxWorkbook::loadSheetDrawing(const std::string& drawing, Worksheet& sheet,
                                                      std::vector<Image>& images) {
    if (drawing.empty()) {
        return std::nullopt;
    }
    std::uint64_t drawingEntry = *m_package.findPart(drawing);
    if (auto it = m_drawings.find(drawingEntry); it != m_drawings.end()) {
        sheet.pictures = it->second.first;
        images = it->second.second;
        return std::nullopt;
    }
    if (auto problem = loadDrawing(drawing, sheet, images)) {
        return problem;
    }
    m_drawings.emplace(drawingEntry, std::make_pair(sheet.pictures, images));
    return std::nullopt;
}

Result<std::string> XlsxWorkbook::drawingPart(const std::string& sheetPart,
                                              std::vector<SheetScanner::Cell>& cells) {
    auto id = drawingId(sheetPart, cells);
    if (!id) {
        return id.problem();
    }
    if (id.value().empty()) {
        return std::string();
    }
    // A drawing that is not there holds no pictures, and they are lost: that is damage, and the
    // rest of the workbook is still read.
    const std::string relationshipsPart = relationshipsPartName(sheetPart);
    if (!m_package.findPart(relationshipsPart)) {
        noteProblem(damaged(relationshipsPart, "the part is missing"));
        return std::string();
    }
    auto relationships = m_package.relationships(sheetPart);
    if (!relationships) {
        return relationships.problem();
    }
    const Relationship* r = RelationshipIndex(relationships.value()).find(id.value());
    if (r == nullptr) {
        noteProblem(
            damaged(relationshipsPart, "the drawing's relationship " + id.value() + " is missing"));
        return std::string();
    }
    if (r->external) {
        return std::string();
    }
    if (!m_package.findPart(r->target)) {
        noteProblem(damaged(r->target, "the part is missing"));
        return std::string();
    }
    return normalizedPartName(r->target);
}

std::optional<Problem> XlsxWorkbook::loadDrawing(const std::string& drawingPart, Worksheet& sheet,
                                                 std::vector<Image>& images) {
    auto part = m_package.readXml(drawingPart);
    if (!part) {
        return part.problem();
    }
    auto relationships = m_package.relationships(drawingPart);
    if (!relationships) {
        return relationships.problem();
    }
    RelationshipIndex byId(relationships.value());
    std::string place = normalizedPartName(drawingPart);
    std::vector<pugi::xml_node> anchors;
    collectAnchors(part.value()->root(), anchors);
    for (pugi::xml_node anchor : anchors) {
        pugi::xml_node object = anchorObject(anchor);
        if (!object || localName(object.name()) != "pic") {
            continue;
        }
        if (sheet.pictures.size() >= kMaxPictures) {
            return tooLarge(place, "more than " + std::to_string(kMaxPictures) + " pictures");
        }
        PictureInfo info;
        Image image;
        info.cell = anchorCell(anchor);
        pugi::xml_node properties = childNamed(childNamed(object, "nvPicPr"), "cNvPr");
        info.name = properties.attribute("name").value();
        info.description = properties.attribute("descr").value();
        pugi::xml_node blip = childNamed(childNamed(object, "blipFill"), "blip");
        std::string_view embed = relationshipAttribute(blip, "embed");
        std::string_view link = relationshipAttribute(blip, "link");
        const Relationship* r = nullptr;
        if (!embed.empty()) {
            r = byId.find(embed);
            if (r == nullptr) {
                image.problem =
                    damaged(place, "the picture '" + info.name + "' names relationship " +
                                       std::string(embed) + ", which is missing");
            } else if (r->external) {
                info.linked = true;
            } else if (auto entry = m_package.findPart(r->target)) {
                image.entry = entry;
            } else {
                image.problem = damaged(place, "the image " + r->target + " is missing");
            }
        } else if (!link.empty()) {
            info.linked = true;
            r = byId.find(link);
            info.link = r != nullptr ? r->target : std::string(link);
        } else {
            image.problem = damaged(place, "the picture '" + info.name + "' has no image");
        }
        if (info.linked) {
            if (r != nullptr) {
                info.link = r->target;
            }
            image.problem = Problem{ProblemKind::LinkedImage, place, info.link};
        }
        if (image.entry) {
            describeImage(*image.entry, info);
        }
        sheet.pictures.push_back(std::move(info));
        images.push_back(std::move(image));
    }
    return std::nullopt;
}

void XlsxWorkbook::describeImage(std::uint64_t entry, PictureInfo& info) {
    auto it = m_sniffed.find(entry);
    if (it == m_sniffed.end()) {
        it = m_sniffed.emplace(entry, sniffPackageImage(*m_zip, entry, m_sniff)).first;
    }
    info.format = it->second.format;
    info.width = it->second.width;
    info.height = it->second.height;
    info.byteCount = m_zip->declaredSize(entry);
    info.imageId = entry;
}

std::optional<Problem> XlsxWorkbook::readPictureBytes(std::size_t sheet, std::size_t picture,
                                                      ByteSink& sink) {
    if (sheet >= m_images.size() || picture >= m_images[sheet].size()) {
        return Problem{ProblemKind::Damaged, "", "no such picture"};
    }
    const Image& image = m_images[sheet][picture];
    if (image.problem) {
        return image.problem;
    }
    // Every copy counts towards the workbook's total, a shared image's too; an image refused
    // for its own size copies nothing and counts nothing.
    const std::uint64_t entry = *image.entry;
    if (auto problem = m_zip->checkSize(entry, kMaxMediaBytes)) {
        return problem;
    }
    if (auto problem = chargeCopy(m_zip->declaredSize(entry), m_zip->name(entry))) {
        return problem;
    }
    return m_sharedImages.copy(*m_zip, entry, sink);
}

}  // namespace workbook
