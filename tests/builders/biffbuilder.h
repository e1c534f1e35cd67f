#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// Writes the workbook stream of a binary workbook (BIFF8): the globals with the sheet list and
// the blip store, then each sheet's substream, its drawing cut into MsoDrawing records around
// the Obj, TxO and embedded-chart records as writers cut it.
class BiffBuilder {
public:
    // Blip record types, as the blip store names them.
    static constexpr std::uint16_t kEmf = 0xF01A, kWmf = 0xF01B, kPict = 0xF01C, kJpeg = 0xF01D,
                                   kPng = 0xF01E, kDib = 0xF01F;

    // A blip store entry; its pib is its 1-based place. Metafiles are stored compressed.
    BiffBuilder& blip(std::uint16_t type, std::vector<std::uint8_t> bytes);
    BiffBuilder& emptyBlipSlot();

    // hidden: 0 visible, 1 hidden, 2 very hidden.
    BiffBuilder& worksheet(std::string name, std::uint8_t hidden = 0);
    BiffBuilder& chartsheet(std::string name);
    BiffBuilder& dialogsheet(std::string name);

    // Shapes on the last worksheet, in z-order.
    BiffBuilder& picture(std::uint32_t pib, int column = 0, int row = 0);
    BiffBuilder& linkedPicture(const std::string& target);
    BiffBuilder& oleObject(std::uint32_t pib);
    BiffBuilder& group(const std::vector<std::uint32_t>& pibs);
    BiffBuilder& textBox(const std::string& text);
    // An embedded chart: its Obj, then its own substream with a drawing of its own.
    BiffBuilder& chart();

    // The drawing's pieces after the first go in CONTINUE records, not MsoDrawing.
    BiffBuilder& drawingInContinues();
    // The drawing group is cut into records of at most n bytes (the first of first bytes):
    // CONTINUEs, or repeated MsoDrawingGroup records.
    BiffBuilder& drawingGroupRecords(std::size_t n, bool repeatType = false, std::size_t first = 0);
    // Every OfficeArt container, in the drawings and the drawing group, is written with this
    // version nibble instead of 0xF, as some writers do.
    BiffBuilder& containerVersion(std::uint16_t version);
    // A record placed right after the globals' BOF (a FILEPASS, say).
    BiffBuilder& globalsRecord(std::uint16_t type, std::vector<std::uint8_t> data);

    std::vector<std::uint8_t> stream() const;
    // The stream in a compound file, named "Workbook".
    std::vector<std::uint8_t> xls() const;

private:
    struct Shape {
        enum Kind { Picture, Linked, Ole, Group, TextBox, Chart } kind;
        std::vector<std::uint32_t> pibs;
        int column = 0;
        int row = 0;
        std::string text;
    };
    struct Sheet {
        std::string name;
        std::uint8_t hidden = 0;
        std::uint8_t kind = 0;  // BoundSheet8 dt
        bool dialog = false;
        std::vector<Shape> shapes;
    };
    struct Blip {
        std::uint16_t type = 0;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Blip> m_blips;
    std::vector<Sheet> m_sheets;
    std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> m_globals;
    bool m_continues = false;
    std::size_t m_groupRecordBytes = 8224;
    std::size_t m_firstGroupRecordBytes = 8224;
    bool m_repeatGroupType = false;
    std::uint16_t m_containerVersion = 0xF;
};

// Writes the workbook stream of an older binary workbook (BIFF5), which has no drawing layer:
// each picture is an Obj record followed by an ImData record holding its image, run on into
// CONTINUEs.
class Biff5Builder {
public:
    Biff5Builder& worksheet(std::string name);
    // A picture on the last worksheet, its image in the given clipboard format (2 a metafile
    // behind its METAFILEPICT, 9 a bitmap); the ImData record carries at most firstBytes of
    // the image, CONTINUEs the rest.
    Biff5Builder& picture(std::uint16_t clipboardFormat, std::vector<std::uint8_t> image,
                          std::size_t firstBytes = 2072);

    std::vector<std::uint8_t> stream() const;
    // The stream in a compound file, named "Book".
    std::vector<std::uint8_t> xls() const;

private:
    struct Picture {
        std::uint16_t clipboardFormat;
        std::vector<std::uint8_t> image;
        std::size_t firstBytes;
    };
    struct Sheet {
        std::string name;
        std::vector<Picture> pictures;
    };
    std::vector<Sheet> m_sheets;
};

// A metafile as a clipboard keeps it: its METAFILEPICT (mapping mode, extent), then its bytes.
std::vector<std::uint8_t> clipboardMetafile(std::int16_t mapMode, std::int16_t xExt,
                                            std::int16_t yExt,
                                            const std::vector<std::uint8_t>& metafile);

// zlib-compressed bytes, as metafile blips are stored.
std::vector<std::uint8_t> zlibCompressed(const std::vector<std::uint8_t>& bytes);
// A small packed DIB (BITMAPINFOHEADER, 24 bits) and a placeable-less WMF.
std::vector<std::uint8_t> dibImage(int width, int height);
std::vector<std::uint8_t> wmfImage();

}  // namespace testing_support
