#pragma once

#include <memory>
#include <unordered_map>

#include "workbook/workbook.h"
#include "workbook/xls/biffrecords.h"
#include "workbook/xls/compoundfile.h"
#include "workbook/xls/officeart.h"

namespace workbook {

// A binary workbook (.xls, BIFF8 in a compound file). The sheet list, the blip store's record
// headers and each worksheet's drawing are read when it opens; picture bytes when asked for,
// straight from the records that hold them.
class XlsWorkbook : public Workbook {
public:
    // The compound file must hold a workbook stream; it reads from file.
    static Result<std::unique_ptr<Workbook>> open(std::unique_ptr<ByteSource> file,
                                                  CompoundFile compound,
                                                  const OpenOptions& options = {});
    // A workbook stream on its own, outside any compound file.
    static Result<std::unique_ptr<Workbook>> openStream(std::unique_ptr<ByteSource> stream,
                                                        std::string name = "Workbook",
                                                        const OpenOptions& options = {});

    const std::vector<Worksheet>& worksheets() const override { return m_worksheets; }
    std::optional<Problem> readPictureBytes(std::size_t sheet, std::size_t picture,
                                            ByteSink& sink) override;
    using Workbook::readPictureBytes;

private:
    struct SheetEntry {
        std::string name;
        std::uint32_t offset = 0;
        std::uint8_t kind = 0;  // 0 worksheet or dialog sheet, 1 macro, 2 chart, 6 module
    };
    // Where a picture's bytes are (a blip store entry), or why there are none.
    struct Image {
        std::optional<std::size_t> blip;
        std::optional<Problem> problem;
    };
    struct Sniffed {
        ImageFormat format = ImageFormat::Unknown;
        int width = 0;
        int height = 0;
        std::uint64_t skip = 0;  // bytes before the image proper (a Mac writer's prefix)
    };
    enum class SheetKind { Worksheet, NotAWorksheet };

    XlsWorkbook(std::unique_ptr<ByteSource> file, std::optional<CompoundFile> compound)
        : m_file(std::move(file)), m_compound(std::move(compound)) {}
    std::optional<Problem> load();
    std::optional<Problem> readGlobals(std::vector<SheetEntry>& sheets);
    std::optional<std::uint64_t> groupRunAsWritten(const biff::Record& first);
    std::optional<Problem> startDecryption(const std::vector<std::uint8_t>& filePass);
    SheetKind loadWorksheet(const SheetEntry& entry, Worksheet& sheet, std::vector<Image>& images);
    SheetKind loadBiff5Worksheet(const std::string& place, biff::RecordReader& reader,
                                 Worksheet& sheet, std::vector<Image>& images);
    void addPictures(const std::string& place, const officeart::Drawing& drawing,
                     const std::vector<biff::ObjInfo>& objects, Worksheet& sheet,
                     std::vector<Image>& images);
    const Sniffed& sniff(std::size_t blip);
    // A clipboard metafile's METAFILEPICT, taken off its bytes and kept as the placeable header
    // written before them; a problem when the bytes are no Windows metafile.
    std::optional<Problem> takeMetafilePict(const std::string& place, std::size_t blip);
    // The bytes a blip's copy starts with before its stored bytes; most have none.
    const std::vector<std::uint8_t>& headerOf(std::size_t blip) const;
    std::vector<std::uint8_t> metafileHead(const officeart::Blip& blip);
    std::string streamPlace() const { return "stream " + m_streamName; }

    std::unique_ptr<ByteSource> m_file;
    std::optional<CompoundFile> m_compound;
    std::unique_ptr<ByteSource> m_stream;
    std::string m_streamName;
    std::unique_ptr<biff::Decryptor> m_decryptor;
    std::unique_ptr<biff::PieceSource> m_group;
    officeart::BlipStore m_blips;
    std::vector<std::optional<Sniffed>> m_sniffed;
    std::unordered_map<std::size_t, std::vector<std::uint8_t>> m_headers;
    // The metafile blip inflated last, while it is no larger than kMaxSharedImageCacheBytes.
    struct LastInflated {
        std::size_t blip = 0;
        std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    } m_inflated;
    std::vector<Worksheet> m_worksheets;
    std::vector<std::vector<Image>> m_images;
    std::size_t m_pictureCount = 0;
    std::uint64_t m_recordBudget = 0;
    bool m_biff5 = false;
    std::uint16_t m_codePage = 0;
};

}  // namespace workbook
