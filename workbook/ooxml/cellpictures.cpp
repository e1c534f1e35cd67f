#include "workbook/ooxml/cellpictures.h"

#include "workbook/limits.h"

namespace workbook {
namespace {

// The child elements of node with the given local name, in order.
std::vector<pugi::xml_node> childrenNamed(pugi::xml_node node, std::string_view local) {
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element && localName(child.name()) == local) {
            out.push_back(child);
        }
    }
    return out;
}

// The part the workbook relates with a relationship of this kind, else the part under its
// usual name, else "".
std::string relatedPart(Package& package, const std::vector<Relationship>& relationships,
                        std::string_view kind, std::string_view usual) {
    for (const Relationship& r : relationships) {
        if (!r.external && r.kind() == kind && package.findPart(r.target)) {
            return r.target;
        }
    }
    return package.findPart(usual) ? std::string(usual) : std::string();
}

// A part's relationships by id; none (and damage noted) when they cannot be read.
std::unordered_map<std::string, Relationship> relationshipsById(Package& package,
                                                                const std::string& part,
                                                                std::vector<Problem>& damage) {
    std::unordered_map<std::string, Relationship> byId;
    auto relationships = package.relationships(part);
    if (!relationships) {
        damage.push_back(relationships.problem());
        return byId;
    }
    for (Relationship& r : relationships.value()) {
        byId.emplace(r.id, std::move(r));
    }
    return byId;
}

// The image a relationship id of part names.
CellImage imageOf(Package& package, const std::unordered_map<std::string, Relationship>& byId,
                  std::string_view id, const std::string& place) {
    CellImage image;
    auto it = byId.find(std::string(id));
    if (id.empty() || it == byId.end()) {
        image.problem = damaged(place, "an in-cell picture names relationship " + std::string(id) +
                                           ", which is missing");
    } else if (it->second.external) {
        image.linked = true;
        image.link = it->second.target;
        image.problem = Problem{ProblemKind::LinkedImage, place, image.link};
    } else if (auto entry = package.findPart(it->second.target)) {
        image.entry = entry;
    } else {
        image.problem = damaged(place, "the image " + it->second.target + " is missing");
    }
    return image;
}

}  // namespace

std::string dispimgId(std::string_view formula) {
    std::size_t at = formula.find("DISPIMG(");
    if (at == std::string_view::npos) {
        return {};
    }
    std::size_t i = at + 8;
    while (i < formula.size() && formula[i] == ' ') {
        ++i;
    }
    if (i >= formula.size() || formula[i] != '"') {
        return {};
    }
    std::size_t end = formula.find('"', i + 1);
    if (end == std::string_view::npos) {
        return {};
    }
    return std::string(formula.substr(i + 1, end - i - 1));
}

CellPictureIndex CellPictureIndex::read(Package& package,
                                        const std::vector<Relationship>& workbookRelationships,
                                        std::vector<Problem>& damage) {
    CellPictureIndex index;
    index.readRichValues(package, workbookRelationships, damage);
    std::string cellImages =
        relatedPart(package, workbookRelationships, "cellImage", "xl/cellimages.xml");
    if (!cellImages.empty()) {
        index.readCellImages(package, cellImages, damage);
    }
    return index;
}

void CellPictureIndex::readRichValues(Package& package,
                                      const std::vector<Relationship>& relationships,
                                      std::vector<Problem>& damage) {
    const std::string metadataPart =
        relatedPart(package, relationships, "sheetMetadata", "xl/metadata.xml");
    const std::string valuesPart =
        relatedPart(package, relationships, "rdRichValue", "xl/richData/rdrichvalue.xml");
    const std::string structuresPart = relatedPart(package, relationships, "rdRichValueStructure",
                                                   "xl/richData/rdrichvaluestructure.xml");
    if (metadataPart.empty() || valuesPart.empty() || structuresPart.empty()) {
        return;
    }
    auto metadata = package.readXml(metadataPart);
    auto values = package.readXml(valuesPart);
    auto structures = package.readXml(structuresPart);
    for (auto* part : {&metadata, &values, &structures}) {
        if (!*part) {
            damage.push_back(part->problem());
            return;
        }
    }

    // Value metadata -> rich value index, through the XLRICHVALUE metadata type.
    pugi::xml_node root = metadata.value()->root();
    std::optional<std::uint32_t> richType;
    auto types = childrenNamed(childNamed(root, "metadataTypes"), "metadataType");
    for (std::size_t t = 0; t < types.size(); ++t) {
        if (std::string_view(types[t].attribute("name").value()) == "XLRICHVALUE") {
            richType = std::uint32_t(t + 1);
            break;
        }
    }
    if (!richType) {
        return;
    }
    std::vector<std::optional<std::uint32_t>> futureValue;
    for (pugi::xml_node future : childrenNamed(root, "futureMetadata")) {
        if (std::string_view(future.attribute("name").value()) != "XLRICHVALUE") {
            continue;
        }
        for (pugi::xml_node block : childrenNamed(future, "bk")) {
            std::optional<std::uint32_t> value;
            for (pugi::xml_node ext : childrenNamed(childNamed(block, "extLst"), "ext")) {
                if (pugi::xml_node rvb = childNamed(ext, "rvb")) {
                    value = xmlNumber(rvb.attribute("i").value());
                }
            }
            futureValue.push_back(value);
        }
        break;
    }

    auto richValues = childrenNamed(values.value()->root(), "rv");
    auto structureList = childrenNamed(structures.value()->root(), "s");

    // Rich value relationships: an index into richValueRel.xml, whose ids name the images.
    std::vector<std::string> relIds;
    std::unordered_map<std::string, Relationship> relById;
    std::string relPlace =
        relatedPart(package, relationships, "richValueRel", "xl/richData/richValueRel.xml");
    if (!relPlace.empty()) {
        if (auto rels = package.readXml(relPlace)) {
            for (pugi::xml_node rel : childrenNamed(rels.value()->root(), "rel")) {
                relIds.emplace_back(relationshipAttribute(rel, "id"));
            }
            relById = relationshipsById(package, relPlace, damage);
        } else {
            damage.push_back(rels.problem());
        }
    }
    // Web images of IMAGE("https://..."): only linked.
    std::vector<std::string> webAddresses;
    std::string webPlace = relatedPart(package, relationships, "rdRichValueWebImage",
                                       "xl/richData/rdRichValueWebImage.xml");
    if (!webPlace.empty()) {
        if (auto web = package.readXml(webPlace)) {
            auto byId = relationshipsById(package, webPlace, damage);
            for (pugi::xml_node image : childrenNamed(web.value()->root(), "webImageSrd")) {
                std::string_view id = relationshipAttribute(childNamed(image, "address"), "id");
                auto it = byId.find(std::string(id));
                webAddresses.push_back(it == byId.end() ? std::string() : it->second.target);
            }
        } else {
            damage.push_back(web.problem());
        }
    }

    auto blocks = childrenNamed(childNamed(root, "valueMetadata"), "bk");
    if (blocks.size() > kMaxPictures * 4) {
        damage.push_back(tooLarge(metadataPart, "more than " + std::to_string(kMaxPictures * 4) +
                                                    " value metadata entries"));
        return;
    }
    m_byValueMetadata.resize(blocks.size());
    m_isImage.assign(blocks.size() + 1, false);
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        pugi::xml_node rc = childNamed(blocks[k], "rc");
        auto type = xmlNumber(rc.attribute("t").value());
        auto value = xmlNumber(rc.attribute("v").value());
        if (type != richType || !value || *value >= futureValue.size() || !futureValue[*value] ||
            *futureValue[*value] >= richValues.size()) {
            continue;
        }
        pugi::xml_node rv = richValues[*futureValue[*value]];
        auto s = xmlNumber(rv.attribute("s").value());
        if (!s || *s >= structureList.size()) {
            continue;
        }
        pugi::xml_node structure = structureList[*s];
        std::string_view kind = structure.attribute("t").value();
        if (kind != "_localImage" && kind != "_webimage") {
            continue;
        }
        auto keys = childrenNamed(structure, "k");
        auto fields = childrenNamed(rv, "v");
        auto field = [&](std::string_view key) -> std::optional<std::string_view> {
            for (std::size_t i = 0; i < keys.size() && i < fields.size(); ++i) {
                if (std::string_view(keys[i].attribute("n").value()) == key) {
                    return std::string_view(fields[i].text().get());
                }
            }
            return std::nullopt;
        };
        CellImage image;
        if (kind == "_localImage") {
            auto rel = field("_rvRel:LocalImageIdentifier");
            auto relIndex = rel ? xmlNumber(*rel) : std::nullopt;
            if (!relIndex || *relIndex >= relIds.size()) {
                image.problem = damaged(valuesPart, "an in-cell picture names no image");
            } else {
                image = imageOf(package, relById, relIds[*relIndex], relPlace);
            }
        } else {
            auto web = field("WebImageIdentifier");
            auto webIndex = web ? xmlNumber(*web) : std::nullopt;
            image.linked = true;
            image.link = webIndex && *webIndex < webAddresses.size() ? webAddresses[*webIndex]
                                                                     : std::string();
            image.problem = Problem{ProblemKind::LinkedImage, valuesPart, image.link};
        }
        if (auto text = field("Text")) {
            image.description = std::string(*text);
        }
        m_byValueMetadata[k] = std::move(image);
        m_isImage[k + 1] = true;
    }
}

void CellPictureIndex::readCellImages(Package& package, const std::string& part,
                                      std::vector<Problem>& damage) {
    auto xml = package.readXml(part);
    if (!xml) {
        damage.push_back(xml.problem());
        return;
    }
    auto byId = relationshipsById(package, part, damage);
    for (pugi::xml_node cellImage : childrenNamed(xml.value()->root(), "cellImage")) {
        if (m_byId.size() >= kMaxPictures) {
            damage.push_back(
                tooLarge(part, "more than " + std::to_string(kMaxPictures) + " cell images"));
            return;
        }
        pugi::xml_node pic = childNamed(cellImage, "pic");
        pugi::xml_node properties = childNamed(childNamed(pic, "nvPicPr"), "cNvPr");
        std::string name = properties.attribute("name").value();
        if (name.empty()) {
            continue;
        }
        pugi::xml_node blip = childNamed(childNamed(pic, "blipFill"), "blip");
        CellImage image = imageOf(package, byId, relationshipAttribute(blip, "embed"), part);
        image.name = name;
        image.description = properties.attribute("descr").value();
        m_byId.emplace(std::move(name), std::move(image));
    }
}

const CellImage* CellPictureIndex::byValueMetadata(std::uint32_t vm) const {
    if (vm == 0 || vm > m_byValueMetadata.size() || !m_byValueMetadata[vm - 1]) {
        return nullptr;
    }
    return &*m_byValueMetadata[vm - 1];
}

const CellImage* CellPictureIndex::byDispimgId(std::string_view id) const {
    auto it = m_byId.find(std::string(id));
    return it == m_byId.end() ? nullptr : &it->second;
}

}  // namespace workbook
