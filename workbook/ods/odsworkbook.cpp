#include "workbook/ods/odsworkbook.h"

#include <algorithm>

#include "workbook/limits.h"
#include "workbook/ooxml/package.h"
#include "workbook/ooxml/xmlpart.h"

namespace workbook {
namespace {

constexpr std::string_view kOpenDocumentType = "application/vnd.oasis.opendocument.";
constexpr std::string_view kSpreadsheetType = "application/vnd.oasis.opendocument.spreadsheet";
constexpr std::string_view kContentPart = "content.xml";
constexpr std::string_view kManifestPart = "META-INF/manifest.xml";
constexpr std::string_view kFlatPlace = "flat document";
constexpr std::size_t kChunkBytes = 64u << 10;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Why an OpenDocument file of another kind is not a workbook; none for a spreadsheet or a
// spreadsheet template.
std::optional<Problem> notASpreadsheet(std::string_view mimetype) {
    if (mimetype == kSpreadsheetType || mimetype == std::string(kSpreadsheetType) + "-template") {
        return std::nullopt;
    }
    std::string_view kind = mimetype.starts_with(kOpenDocumentType)
                                ? mimetype.substr(kOpenDocumentType.size())
                                : std::string_view();
    const char* detail = "it is an OpenDocument file but not a spreadsheet";
    if (kind.starts_with("text")) {
        detail = "it is a word-processing document";
    } else if (kind.starts_with("presentation")) {
        detail = "it is a presentation";
    } else if (kind.starts_with("graphics")) {
        detail = "it is a drawing";
    }
    return Problem{ProblemKind::NotAWorkbook, "", detail};
}

std::string packageMimetype(ZipReader& zip) {
    auto entry = zip.find("mimetype");
    if (!entry) {
        return {};
    }
    std::vector<std::uint8_t> bytes = zip.readPrefix(*entry, kMaxOdsMimetypeBytes);
    return std::string(
        trimmed(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
}

// A link outside the package: a URI with a scheme (http:, file:, a drive letter), an absolute
// path, or a path that climbs out of the package's folder.
bool isExternalLink(std::string_view href) {
    if (href.starts_with('/') || href.starts_with('\\') || href.starts_with("../") ||
        href.starts_with("..\\")) {
        return true;
    }
    std::size_t colon = href.find(':');
    if (colon == std::string_view::npos || colon == 0 || href.find('/') < colon) {
        return false;
    }
    auto schemeChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '+' || c == '-' || c == '.';
    };
    return std::all_of(href.begin(), href.begin() + long(colon), schemeChar);
}

std::string packagePath(std::string_view href) {
    while (href.starts_with("./")) {
        href.remove_prefix(2);
    }
    return std::string(href);
}

// Decodes base64 text as a flat document holds it: spaces, line breaks and character
// references (&#10;) between the characters are passed over; the data end at "=".
class Base64Decoder {
public:
    // Decodes text, writing to out when it is not null; returns the bytes it gave.
    std::size_t feed(std::string_view text, std::uint8_t* out) {
        std::size_t produced = 0;
        for (char c : text) {
            if (m_inReference) {
                m_inReference = c != ';';
                continue;
            }
            int value = sextet(c);
            if (c == '&') {
                m_inReference = true;
            } else if (c == '=') {
                m_ended = true;
            } else if (value >= 0 && !m_ended) {
                m_bits = (m_bits << 6) | std::uint32_t(value);
                if (++m_count == 4) {
                    produced += put(out, produced, 3);
                    m_count = 0;
                }
            }
        }
        return produced;
    }
    // The bytes of a last, incomplete group.
    std::size_t finish(std::uint8_t* out) {
        std::size_t n = m_count == 2 ? 1 : m_count == 3 ? 2 : 0;
        m_bits <<= 6 * (4 - m_count);
        m_count = 0;
        return n > 0 ? put(out, 0, n) : 0;
    }

private:
    static int sextet(char c) {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        if (c == '+')
            return 62;
        if (c == '/')
            return 63;
        return -1;
    }
    std::size_t put(std::uint8_t* out, std::size_t at, std::size_t n) {
        if (out != nullptr) {
            for (std::size_t i = 0; i < n; ++i) {
                out[at + i] = std::uint8_t(m_bits >> (16 - 8 * i));
            }
        }
        m_bits = 0;
        return n;
    }

    std::uint32_t m_bits = 0;
    int m_count = 0;
    bool m_inReference = false;
    bool m_ended = false;
};

}  // namespace

bool OdsWorkbook::isPackage(ZipReader& zip) {
    std::string mimetype = packageMimetype(zip);
    if (!mimetype.empty()) {
        return mimetype.starts_with(kOpenDocumentType);
    }
    return zip.find(kManifestPart) && zip.find(kContentPart) && !zip.find("[Content_Types].xml");
}

Result<std::unique_ptr<Workbook>> OdsWorkbook::open(std::unique_ptr<ZipReader> zip,
                                                    const OpenOptions& options) {
    std::unique_ptr<OdsWorkbook> workbook(new OdsWorkbook());
    workbook->m_sniff = options.sniff;
    workbook->m_zip = std::move(zip);
    if (auto problem = workbook->loadPackage()) {
        return *problem;
    }
    return std::unique_ptr<Workbook>(std::move(workbook));
}

bool OdsWorkbook::mayBeFlat(const std::uint8_t* head, std::size_t size) {
    std::size_t i = size >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF ? 3 : 0;
    while (i < size && isSpace(char(head[i]))) {
        ++i;
    }
    return i < size && head[i] == '<';
}

Result<std::unique_ptr<Workbook>> OdsWorkbook::openFlat(std::unique_ptr<ByteSource> source,
                                                        const OpenOptions& options) {
    std::unique_ptr<OdsWorkbook> workbook(new OdsWorkbook());
    workbook->m_sniff = options.sniff;
    workbook->m_flat = std::move(source);
    if (auto problem = workbook->loadFlat()) {
        return *problem;
    }
    return std::unique_ptr<Workbook>(std::move(workbook));
}

std::optional<Problem> OdsWorkbook::checkManifest() {
    auto entry = m_zip->find(kManifestPart);
    if (!entry) {
        noteProblem(damaged(std::string(kManifestPart), "the part is missing"));
        return std::nullopt;
    }
    VectorSink sink;
    std::optional<Problem> problem =
        m_zip->readAll(*entry, kMaxXmlPartBytes, ZipReader::Budget::Open, sink);
    Result<std::unique_ptr<XmlPart>> manifest =
        problem ? Result<std::unique_ptr<XmlPart>>(*problem)
                : parseXmlPart(std::move(sink.bytes), std::string(kManifestPart));
    if (!manifest) {
        // The manifest only says whether the package is encrypted; content.xml tells too, by
        // not being XML.
        noteProblem(manifest.problem());
        return std::nullopt;
    }
    for (pugi::xml_node file = manifest.value()->root().first_child(); file;
         file = file.next_sibling()) {
        if (localName(file.name()) != "file-entry") {
            continue;
        }
        if (childNamed(file, "encryption-data")) {
            return Problem{ProblemKind::Encrypted, "", ""};
        }
    }
    return std::nullopt;
}

std::optional<Problem> OdsWorkbook::loadPackage() {
    // The mimetype entry says what the package is; without it, the manifest's root entry.
    std::string mimetype = packageMimetype(*m_zip);
    if (!mimetype.empty()) {
        if (auto problem = notASpreadsheet(mimetype)) {
            return problem;
        }
    }
    if (auto problem = checkManifest()) {
        return problem;
    }
    const std::string place(kContentPart);
    auto entry = m_zip->find(kContentPart);
    if (!entry) {
        return damaged(place, "the part is missing");
    }
    ods::ContentScanner scanner(place);
    ods::XmlStream xml(place, scanner, ods::knownPrefixes());
    std::optional<Problem> problem =
        m_zip->stream(*entry, kMaxOdsContentBytes, ZipReader::Budget::Open,
                      [&](const char* data, std::size_t size) { return xml.feed(data, size); });
    if (!problem && !xml.problem() && !xml.stopped()) {
        xml.finish();
    }
    if (scanner.problem()) {
        return scanner.problem();
    }
    if (!problem) {
        problem = xml.problem();
    }
    if (!scanner.sawDocument()) {
        return problem ? *problem : damaged(place, "the root element is not a document");
    }
    if (mimetype.empty() && !scanner.rootMimetype().empty()) {
        if (auto other = notASpreadsheet(scanner.rootMimetype())) {
            return other;
        }
    }
    if (problem) {
        // The tables read whole before the damage keep their pictures; the rest are lost.
        if (scanner.tables().empty()) {
            return problem;
        }
        noteProblem(*problem);
    } else if (!scanner.sawSpreadsheet()) {
        return Problem{ProblemKind::NotAWorkbook, "",
                       "it is an OpenDocument file but not a spreadsheet"};
    }
    return addTables(scanner.tables(), place);
}

std::optional<Problem> OdsWorkbook::loadFlat() {
    const std::string place(kFlatPlace);
    const Problem notXmlDocument{ProblemKind::NotAWorkbook, "",
                                 "it is neither a zip package nor a compound file"};
    if (m_flat->size() > kMaxOdsContentBytes) {
        return tooLarge(place,
                        "more than " + std::to_string(kMaxOdsContentBytes >> 30) + " GiB of XML");
    }
    ods::ContentScanner scanner(place);
    ods::XmlStream xml(place, scanner, ods::knownPrefixes());
    std::vector<char> chunk(kChunkBytes);
    bool decided = false;
    for (std::uint64_t at = 0; at < m_flat->size();) {
        std::size_t n = std::size_t(std::min<std::uint64_t>(chunk.size(), m_flat->size() - at));
        if (!m_flat->read(at, chunk.data(), n)) {
            return Problem{ProblemKind::Io, place, "the file cannot be read to its end"};
        }
        at += n;
        const bool more = xml.feed(chunk.data(), n);
        if (!decided && scanner.sawRoot()) {
            // Other XML is not a workbook, and another kind of document not either: told by
            // the root, before the rest is read.
            decided = true;
            if (!scanner.sawDocument()) {
                return notXmlDocument;
            }
            if (auto other = notASpreadsheet(scanner.rootMimetype())) {
                return other;
            }
        }
        if (!more) {
            break;
        }
        if (at == m_flat->size()) {
            xml.finish();
        }
    }
    if (scanner.problem()) {
        return scanner.problem();
    }
    if (!scanner.sawDocument()) {
        return notXmlDocument;
    }
    if (xml.problem()) {
        if (scanner.tables().empty()) {
            return xml.problem();
        }
        noteProblem(*xml.problem());
    } else if (!scanner.sawSpreadsheet()) {
        return Problem{ProblemKind::NotAWorkbook, "",
                       "it is an OpenDocument file but not a spreadsheet"};
    }
    return addTables(scanner.tables(), place);
}

std::optional<Problem> OdsWorkbook::addTables(std::vector<ods::ContentTable>& tables,
                                              const std::string& place) {
    for (ods::ContentTable& table : tables) {
        Worksheet sheet;
        sheet.name = std::move(table.name);
        std::vector<Image> images;
        for (const ods::ContentPicture& picture : table.pictures) {
            PictureInfo info;
            info.name = picture.name;
            info.description = picture.description;
            info.cell = picture.cell;
            images.push_back(m_flat ? flatImage(picture, place, info)
                                    : packageImage(picture, place, info));
            sheet.pictures.push_back(std::move(info));
        }
        m_worksheets.push_back(std::move(sheet));
        m_images.push_back(std::move(images));
    }
    for (const std::vector<Image>& images : m_images) {
        for (const Image& image : images) {
            if (image.entry) {
                m_sharedImages.noteUse(*image.entry);
            }
        }
    }
    return std::nullopt;
}

OdsWorkbook::Image OdsWorkbook::packageImage(const ods::ContentPicture& picture,
                                             const std::string& place, PictureInfo& info) {
    // The first image the package holds that is not an SVG drawing, as a picture whose SVG
    // comes with a rendering in another format gives that rendering; an SVG alone is taken
    // as it is. A link only counts when the package holds none of the frame's images.
    std::optional<std::uint64_t> chosen, svg;
    std::string link, missing;
    for (const ods::FrameImage& candidate : picture.images) {
        if (candidate.href.empty()) {
            continue;
        }
        if (isExternalLink(candidate.href)) {
            if (link.empty()) {
                link = candidate.href;
            }
            continue;
        }
        std::string path = packagePath(candidate.href);
        auto entry = m_zip->find(path);
        if (!entry) {
            entry = m_zip->find(percentDecoded(path));
        }
        if (!entry) {
            if (missing.empty()) {
                missing = path;
            }
            continue;
        }
        if (sniffEntry(*entry).format != ImageFormat::Svg) {
            chosen = entry;
            break;
        }
        if (!svg) {
            svg = entry;
        }
    }
    if (!chosen) {
        chosen = svg;
    }
    Image image;
    if (chosen) {
        const ImageInfo& sniffed = sniffEntry(*chosen);
        info.format = sniffed.format;
        info.width = sniffed.width;
        info.height = sniffed.height;
        info.byteCount = m_zip->declaredSize(*chosen);
        info.imageId = *chosen;
        image.entry = chosen;
    } else if (!link.empty()) {
        info.linked = true;
        info.link = link;
        image.problem = Problem{ProblemKind::LinkedImage, place, link};
    } else if (!missing.empty()) {
        image.problem = damaged(place, "the image " + missing + " is missing");
    } else {
        std::string label =
            picture.name.empty() ? "a picture" : "the picture '" + picture.name + "'";
        image.problem = damaged(place, label + " has no image");
    }
    return image;
}

OdsWorkbook::Image OdsWorkbook::flatImage(const ods::ContentPicture& picture,
                                          const std::string& place, PictureInfo& info) {
    // Images inside the document, the first that is not an SVG drawing as in a package; any
    // path names a file outside the document, a link.
    Image image;
    std::optional<Image> svg;
    std::string link;
    for (const ods::FrameImage& candidate : picture.images) {
        if (candidate.dataEnd > candidate.dataOffset) {
            Image inlined;
            inlined.dataOffset = candidate.dataOffset;
            inlined.dataEnd = candidate.dataEnd;
            ImageInfo sniffed = sniffInline(inlined);
            if (sniffed.format != ImageFormat::Svg) {
                image = inlined;
                break;
            }
            if (!svg) {
                svg = inlined;
            }
        } else if (!candidate.href.empty() && link.empty()) {
            link = candidate.href;
        }
    }
    if (image.dataEnd == 0 && svg) {
        image = *svg;
    }
    if (image.dataEnd > 0) {
        const ImageInfo sniffed = sniffInline(image);
        info.format = sniffed.format;
        info.width = sniffed.width;
        info.height = sniffed.height;
        info.imageId = image.dataOffset;
    } else if (!link.empty()) {
        info.linked = true;
        info.link = link;
        image.problem = Problem{ProblemKind::LinkedImage, place, link};
    } else {
        std::string label =
            picture.name.empty() ? "a picture" : "the picture '" + picture.name + "'";
        image.problem = damaged(place, label + " has no image");
    }
    return image;
}

ImageInfo OdsWorkbook::sniffEntry(std::uint64_t entry) {
    if (auto it = m_sniffed.find(entry); it != m_sniffed.end()) {
        return it->second;
    }
    const ImageInfo info = sniffPackageImage(*m_zip, entry, m_sniff);
    m_sniffed.emplace(entry, info);
    return info;
}

ImageInfo OdsWorkbook::sniffInline(const Image& image) {
    if (auto it = m_sniffed.find(image.dataOffset); it != m_sniffed.end()) {
        return it->second;
    }
    // Base64 takes four characters for three bytes, and line breaks or references between
    // them take more: twice the bytes wanted is enough text.
    auto decodeHead = [&](std::uint64_t bytes) {
        std::vector<std::uint8_t> text(
            std::size_t(std::min<std::uint64_t>(image.dataEnd - image.dataOffset, 2 * bytes)));
        std::vector<std::uint8_t> head;
        if (!m_flat->read(image.dataOffset, text.data(), text.size())) {
            return head;
        }
        std::string_view view(reinterpret_cast<const char*>(text.data()), text.size());
        Base64Decoder decoder;
        head.resize(text.size());
        head.resize(decoder.feed(view, head.data()));
        return head;
    };
    std::vector<std::uint8_t> head = decodeHead(kSniffBytes);
    ImageInfo info = m_sniff(head.data(), head.size());
    if (info.format == ImageFormat::Jpeg && info.width == 0 &&
        image.dataEnd - image.dataOffset > 2 * kSniffBytes) {
        head = decodeHead(kJpegSniffBytes);
        info = m_sniff(head.data(), head.size());
    }
    if (info.format == ImageFormat::Wmf && info.width == 0 &&
        image.dataEnd - image.dataOffset > 2 * kSniffBytes) {
        head = decodeHead(kSniffBytes + kMetafileLeadingEscapeBytes);
        info = m_sniff(head.data(), head.size());
    }
    m_sniffed.emplace(image.dataOffset, info);
    return info;
}

std::optional<Problem> OdsWorkbook::readInline(const Image& image, const std::string& place,
                                               ByteSink& sink) {
    // Two passes over the text: one counts the bytes, so that the sink is asked for exactly
    // that many, the other decodes them into it.
    auto decodeAll = [&](std::uint8_t* out) -> std::optional<std::size_t> {
        Base64Decoder decoder;
        std::vector<char> chunk(kChunkBytes);
        std::size_t produced = 0;
        for (std::uint64_t at = image.dataOffset; at < image.dataEnd;) {
            std::size_t n = std::size_t(std::min<std::uint64_t>(chunk.size(), image.dataEnd - at));
            if (!m_flat->read(at, chunk.data(), n)) {
                return std::nullopt;
            }
            at += n;
            produced += decoder.feed(std::string_view(chunk.data(), n),
                                     out != nullptr ? out + produced : nullptr);
        }
        return produced + decoder.finish(out != nullptr ? out + produced : nullptr);
    };
    if ((image.dataEnd - image.dataOffset) / 4 * 3 > kMaxMediaBytes) {
        return tooLarge(place,
                        "a picture of more than " + std::to_string(kMaxMediaBytes >> 20) + " MiB");
    }
    std::optional<std::size_t> size = decodeAll(nullptr);
    if (!size) {
        return Problem{ProblemKind::Io, place, "the picture's text cannot be read"};
    }
    if (auto problem = chargeCopy(*size, place)) {
        return problem;
    }
    if (!decodeAll(sink.allocate(*size))) {
        return Problem{ProblemKind::Io, place, "the picture's text cannot be read"};
    }
    return std::nullopt;
}

std::optional<Problem> OdsWorkbook::readPictureBytes(std::size_t sheet, std::size_t picture,
                                                     ByteSink& sink) {
    if (sheet >= m_images.size() || picture >= m_images[sheet].size()) {
        return Problem{ProblemKind::Damaged, "", "no such picture"};
    }
    const Image& image = m_images[sheet][picture];
    if (image.problem) {
        return image.problem;
    }
    if (m_flat) {
        return readInline(image, std::string(kFlatPlace), sink);
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
