#pragma once

#include <memory>
#include <unordered_map>

#include "workbook/bytesource.h"
#include "workbook/ods/contentscanner.h"
#include "workbook/ooxml/packageimages.h"
#include "workbook/ooxml/zipreader.h"
#include "workbook/workbook.h"

namespace workbook {

// An OpenDocument spreadsheet: a package (.ods, .ots) or a flat XML document (.fods). Its
// tables and their pictures are read when it opens, images when asked for: a package's from
// their zip entries, a flat document's from the base64 text inside it.
class OdsWorkbook : public Workbook {
public:
    // Whether a zip archive is an OpenDocument package of any kind: its mimetype entry, or
    // without one its manifest, says so.
    static bool isPackage(ZipReader& zip);
    static Result<std::unique_ptr<Workbook>> open(std::unique_ptr<ZipReader> zip,
                                                  const OpenOptions& options = {});

    // Whether a file starting with these bytes may be a flat document (XML text).
    static bool mayBeFlat(const std::uint8_t* head, std::size_t size);
    // Another XML document is not a workbook.
    static Result<std::unique_ptr<Workbook>> openFlat(std::unique_ptr<ByteSource> source,
                                                      const OpenOptions& options = {});

    const std::vector<Worksheet>& worksheets() const override { return m_worksheets; }
    std::optional<Problem> readPictureBytes(std::size_t sheet, std::size_t picture,
                                            ByteSink& sink) override;
    using Workbook::readPictureBytes;

private:
    // Where a picture's bytes are, or why there are none.
    struct Image {
        std::optional<std::uint64_t> entry;  // a package's image entry
        std::uint64_t dataOffset = 0;        // a flat document's base64 text
        std::uint64_t dataEnd = 0;
        std::optional<Problem> problem;
    };

    OdsWorkbook() = default;
    std::optional<Problem> loadPackage();
    std::optional<Problem> checkManifest();
    std::optional<Problem> loadFlat();
    std::optional<Problem> addTables(std::vector<ods::ContentTable>& tables,
                                     const std::string& place);
    Image packageImage(const ods::ContentPicture& picture, const std::string& place,
                       PictureInfo& info);
    Image flatImage(const ods::ContentPicture& picture, const std::string& place,
                    PictureInfo& info);
    ImageInfo sniffEntry(std::uint64_t entry);
    ImageInfo sniffInline(const Image& image);
    std::optional<Problem> readInline(const Image& image, const std::string& place, ByteSink& sink);

    std::unique_ptr<ZipReader> m_zip;
    std::unique_ptr<ByteSource> m_flat;
    std::vector<Worksheet> m_worksheets;
    std::vector<std::vector<Image>> m_images;
    std::unordered_map<std::uint64_t, ImageInfo> m_sniffed;
    SharedImages m_sharedImages;
};

}  // namespace workbook
