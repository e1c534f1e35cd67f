#include "builders/biffbuilder.h"

#include <zlib.h>

#include <algorithm>
#include <utility>

#include "builders/cfbbuilder.h"

namespace testing_support {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Records = std::vector<std::pair<std::uint16_t, Bytes>>;

constexpr std::size_t kMaxRecordData = 8224;

void add16(Bytes& b, std::uint16_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
void add32(Bytes& b, std::uint32_t v) {
    add16(b, std::uint16_t(v));
    add16(b, std::uint16_t(v >> 16));
}
void append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

// An OfficeArt record: version, instance, type, then the body.
Bytes officeArt(std::uint16_t version, std::uint16_t instance, std::uint16_t type,
                const Bytes& body) {
    Bytes b;
    add16(b, std::uint16_t(version | (instance << 4)));
    add16(b, type);
    add32(b, std::uint32_t(body.size()));
    append(b, body);
    return b;
}

// A run of drawing bytes, with the places after a ClientData or ClientTextbox where the
// records that belong to it (Obj, TxO, a chart's substream) go.
struct Blob {
    Bytes bytes;
    std::vector<std::pair<std::size_t, Records>> cuts;

    void add(const Bytes& more) { append(bytes, more); }
    void add(const Blob& more) {
        for (const auto& [at, records] : more.cuts) {
            cuts.push_back({bytes.size() + at, records});
        }
        append(bytes, more.bytes);
    }
    void cut(Records records) { cuts.push_back({bytes.size(), std::move(records)}); }
    // Wraps the blob in a container record.
    Blob container(std::uint16_t type, std::uint16_t instance = 0,
                   std::uint16_t version = 0xF) const {
        Blob out;
        out.add(officeArt(version, instance, type, {}));
        std::uint32_t size = std::uint32_t(bytes.size());
        for (int i = 0; i < 4; ++i) {
            out.bytes[4 + i] = std::uint8_t(size >> (8 * i));
        }
        out.add(*this);
        return out;
    }
};

Bytes bof(std::uint16_t kind) {
    Bytes b;
    add16(b, 0x0600);
    add16(b, kind);
    add16(b, 0x0DBB);
    add16(b, 0x07CC);
    add32(b, 0);
    add32(b, 0x06);
    return b;
}

Bytes obj(std::uint16_t objectType, std::uint16_t id, bool pictureFormula = false) {
    Bytes b;
    add16(b, 0x15);  // FtCmo
    add16(b, 0x12);
    add16(b, objectType);
    add16(b, id);
    add16(b, 0x6011);
    b.resize(b.size() + 12, 0);
    if (objectType == 8) {
        add16(b, 0x07);  // FtCf
        add16(b, 2);
        add16(b, 0xFFFF);
        add16(b, 0x08);  // FtPioGrbit
        add16(b, 2);
        add16(b, 0x0001);
    }
    if (pictureFormula) {
        add16(b, 0x09);  // FtPictFmla, with a formula naming the embedded object
        add16(b, 8);
        append(b, {5, 0, 0, 0, 0, 0, 0x02, 0x00});
    }
    add32(b, 0);  // ftEnd
    return b;
}

Bytes shapeRecord(std::uint16_t type, std::uint32_t spid, std::uint32_t flags) {
    Bytes body;
    add32(body, spid);
    add32(body, flags);
    return officeArt(2, type, 0xF00A, body);
}

Bytes anchor(int column, int row) {
    Bytes body;
    for (int v : {0, column, 0, row, 0, column + 2, 0, row + 3, 0}) {
        add16(body, std::uint16_t(v));
    }
    return officeArt(0, 0, 0xF010, body);
}

Bytes properties(const std::vector<std::pair<std::uint16_t, std::uint32_t>>& simple,
                 const std::vector<std::pair<std::uint16_t, std::string>>& strings = {}) {
    Bytes body, complex;
    for (const auto& [id, value] : simple) {
        add16(body, id);
        add32(body, value);
    }
    for (const auto& [id, text] : strings) {
        Bytes utf16;
        for (char c : text) {
            add16(utf16, std::uint8_t(c));
        }
        add16(utf16, 0);
        add16(body, std::uint16_t(id | 0x8000));
        add32(body, std::uint32_t(utf16.size()));
        append(complex, utf16);
    }
    append(body, complex);
    return officeArt(3, std::uint16_t(simple.size() + strings.size()), 0xF00B, body);
}

const Bytes kClientData = officeArt(0, 0, 0xF011, {});

std::uint16_t blipInstance(std::uint16_t type) {
    switch (type) {
        case BiffBuilder::kEmf:
            return 0x3D4;
        case BiffBuilder::kWmf:
            return 0x216;
        case BiffBuilder::kPict:
            return 0x542;
        case BiffBuilder::kJpeg:
            return 0x46A;
        case BiffBuilder::kPng:
            return 0x6E0;
        default:
            return 0x7A8;
    }
}

std::uint8_t blipKind(std::uint16_t type) {
    switch (type) {
        case BiffBuilder::kEmf:
            return 2;
        case BiffBuilder::kWmf:
            return 3;
        case BiffBuilder::kPict:
            return 4;
        case BiffBuilder::kJpeg:
            return 5;
        case BiffBuilder::kPng:
            return 6;
        default:
            return 7;
    }
}

// Appends data as a record of the given type, cut into CONTINUEs past the record size.
void addRecords(Records& out, std::uint16_t type, const Bytes& data, std::size_t most) {
    std::size_t at = 0;
    do {
        std::size_t n = std::min(most, data.size() - at);
        out.push_back({at == 0 ? type : std::uint16_t(0x003C),
                       Bytes(data.begin() + long(at), data.begin() + long(at + n))});
        at += n;
    } while (at < data.size());
}

}  // namespace

BiffBuilder& BiffBuilder::blip(std::uint16_t type, std::vector<std::uint8_t> bytes) {
    m_blips.push_back({type, std::move(bytes)});
    return *this;
}

BiffBuilder& BiffBuilder::emptyBlipSlot() {
    m_blips.push_back({});
    return *this;
}

BiffBuilder& BiffBuilder::worksheet(std::string name, std::uint8_t hidden) {
    m_sheets.push_back({std::move(name), hidden, 0, false, {}});
    return *this;
}

BiffBuilder& BiffBuilder::chartsheet(std::string name) {
    m_sheets.push_back({std::move(name), 0, 2, false, {}});
    return *this;
}

BiffBuilder& BiffBuilder::dialogsheet(std::string name) {
    m_sheets.push_back({std::move(name), 0, 0, true, {}});
    return *this;
}

BiffBuilder& BiffBuilder::picture(std::uint32_t pib, int column, int row) {
    m_sheets.back().shapes.push_back({Shape::Picture, {pib}, column, row, {}});
    return *this;
}

BiffBuilder& BiffBuilder::linkedPicture(const std::string& target) {
    m_sheets.back().shapes.push_back({Shape::Linked, {}, 0, 0, target});
    return *this;
}

BiffBuilder& BiffBuilder::oleObject(std::uint32_t pib) {
    m_sheets.back().shapes.push_back({Shape::Ole, {pib}, 0, 0, {}});
    return *this;
}

BiffBuilder& BiffBuilder::group(const std::vector<std::uint32_t>& pibs) {
    m_sheets.back().shapes.push_back({Shape::Group, pibs, 0, 0, {}});
    return *this;
}

BiffBuilder& BiffBuilder::textBox(const std::string& text) {
    m_sheets.back().shapes.push_back({Shape::TextBox, {}, 0, 0, text});
    return *this;
}

BiffBuilder& BiffBuilder::chart() {
    m_sheets.back().shapes.push_back({Shape::Chart, {}, 0, 0, {}});
    return *this;
}

BiffBuilder& BiffBuilder::drawingInContinues() {
    m_continues = true;
    return *this;
}

BiffBuilder& BiffBuilder::drawingGroupRecords(std::size_t n, bool repeatType, std::size_t first) {
    m_groupRecordBytes = n;
    m_repeatGroupType = repeatType;
    m_firstGroupRecordBytes = first != 0 ? first : n;
    return *this;
}

BiffBuilder& BiffBuilder::containerVersion(std::uint16_t version) {
    m_containerVersion = version;
    return *this;
}

BiffBuilder& BiffBuilder::globalsRecord(std::uint16_t type, std::vector<std::uint8_t> data) {
    m_globals.push_back({type, std::move(data)});
    return *this;
}

std::vector<std::uint8_t> BiffBuilder::stream() const {
    Bytes out;
    auto write = [&out](std::uint16_t type, const Bytes& data) {
        add16(out, type);
        add16(out, std::uint16_t(data.size()));
        append(out, data);
    };

    write(0x0809, bof(0x0005));
    for (const auto& [type, data] : m_globals) {
        write(type, data);
    }
    std::vector<std::size_t> sheetOffsets;
    for (const Sheet& sheet : m_sheets) {
        sheetOffsets.push_back(out.size() + 4);
        Bytes b = {0, 0, 0, 0, sheet.hidden, sheet.kind, std::uint8_t(sheet.name.size()), 0};
        append(b, Bytes(sheet.name.begin(), sheet.name.end()));
        write(0x0085, b);
    }
    if (!m_blips.empty()) {
        Blob store;
        for (const Blip& blip : m_blips) {
            Bytes record;
            if (blip.type != 0) {
                Bytes body(16, 0x5A);  // the UID
                bool metafile = blip.type == kEmf || blip.type == kWmf || blip.type == kPict;
                if (metafile) {
                    Bytes packed = zlibCompressed(blip.bytes);
                    add32(body, std::uint32_t(blip.bytes.size()));
                    for (std::uint32_t v : {0u, 0u, 200u, 100u, 1905000u, 952500u}) {
                        add32(body, v);  // bounds, then 200 x 100 px in EMUs
                    }
                    add32(body, std::uint32_t(packed.size()));
                    append(body, {0x00, 0xFE});
                    append(body, packed);
                } else {
                    body.push_back(0xFF);
                    append(body, blip.bytes);
                }
                record = officeArt(0, blipInstance(blip.type), blip.type, body);
            }
            Bytes fbse = {blip.type ? blipKind(blip.type) : std::uint8_t(0),
                          blip.type ? blipKind(blip.type) : std::uint8_t(0)};
            fbse.resize(18, 0x5A);
            add16(fbse, 0xFF);
            add32(fbse, std::uint32_t(record.size()));
            add32(fbse, 1);
            add32(fbse, 0);
            add32(fbse, 0);
            append(fbse, record);
            store.add(officeArt(2, blip.type ? blipKind(blip.type) : 0, 0xF007, fbse));
        }
        Blob group;
        group.add(officeArt(0, 0, 0xF006, Bytes(16, 0)));
        group.add(store.container(0xF001, std::uint16_t(m_blips.size()), m_containerVersion));
        group.add(officeArt(3, 0, 0xF00B, {}));
        Bytes data = group.container(0xF000, 0, m_containerVersion).bytes;
        for (std::size_t at = 0, n = 0; at < data.size(); at += n) {
            n = std::min(at == 0 ? m_firstGroupRecordBytes : m_groupRecordBytes, data.size() - at);
            write(at == 0 || m_repeatGroupType ? 0x00EB : 0x003C,
                  Bytes(data.begin() + long(at), data.begin() + long(at + n)));
        }
    }
    write(0x000A, {});

    for (std::size_t s = 0; s < m_sheets.size(); ++s) {
        const Sheet& sheet = m_sheets[s];
        put32(out, sheetOffsets[s], std::uint32_t(out.size()));
        write(0x0809, bof(sheet.kind == 2 ? 0x0020 : 0x0010));
        write(0x0081, {std::uint8_t(sheet.dialog ? 0x11 : 0x01), 0x04});
        if (!sheet.shapes.empty()) {
            std::uint32_t spid = 1024;
            std::uint16_t id = 1;
            Blob own;  // the patriarch's own shape
            own.add(officeArt(1, 0, 0xF009, Bytes(16, 0)));
            own.add(shapeRecord(0, spid++, 0x5));
            Blob patriarch;
            patriarch.add(own.container(0xF004, 0, m_containerVersion));
            for (const Shape& shape : sheet.shapes) {
                Blob sp;
                switch (shape.kind) {
                    case Shape::Picture:
                    case Shape::Ole:
                        sp.add(shapeRecord(75, spid++, 0xA00));
                        sp.add(properties({{0x4104, shape.pibs[0]}}, {{0x0380, "Picture"}}));
                        sp.add(anchor(shape.column, shape.row));
                        sp.add(kClientData);
                        sp.cut({{0x005D, obj(8, id++, shape.kind == Shape::Ole)}});
                        patriarch.add(sp.container(0xF004, 0, m_containerVersion));
                        break;
                    case Shape::Linked:
                        sp.add(shapeRecord(75, spid++, 0xA00));
                        sp.add(properties({}, {{0x0105, shape.text}}));
                        sp.add(anchor(0, 0));
                        sp.add(kClientData);
                        sp.cut({{0x005D, obj(8, id++)}});
                        patriarch.add(sp.container(0xF004, 0, m_containerVersion));
                        break;
                    case Shape::TextBox: {
                        sp.add(shapeRecord(202, spid++, 0xA00));
                        sp.add(anchor(0, 0));
                        sp.add(kClientData);
                        sp.cut({{0x005D, obj(6, id++)}});
                        sp.add(officeArt(0, 0, 0xF00D, {}));
                        Bytes txo(18, 0);
                        put16(txo, 10, std::uint16_t(shape.text.size()));
                        put16(txo, 12, 16);
                        Bytes text = {0};
                        append(text, Bytes(shape.text.begin(), shape.text.end()));
                        // Formatting runs that could pass for a shape record if glued on.
                        Bytes runs = officeArt(0xF, 0, 0xF004, Bytes(8, 0));
                        sp.cut({{0x01B6, txo}, {0x003C, text}, {0x003C, runs}});
                        patriarch.add(sp.container(0xF004, 0, m_containerVersion));
                        break;
                    }
                    case Shape::Chart: {
                        sp.add(shapeRecord(201, spid++, 0xA00));
                        sp.add(anchor(0, 0));
                        sp.add(kClientData);
                        // The chart's own drawing holds a picture that is not the sheet's.
                        Blob inner;
                        inner.add(shapeRecord(75, 1, 0xA00));
                        inner.add(properties({{0x4104, 1}}));
                        inner.add(kClientData);
                        Bytes chartDrawing = inner.container(0xF004, 0, m_containerVersion)
                                                 .container(0xF003, 0, m_containerVersion)
                                                 .container(0xF002, 0, m_containerVersion)
                                                 .bytes;
                        sp.cut({{0x005D, obj(5, id++)},
                                {0x0809, bof(0x0020)},
                                {0x00EC, chartDrawing},
                                {0x005D, obj(8, 1)},
                                {0x000A, {}}});
                        patriarch.add(sp.container(0xF004, 0, m_containerVersion));
                        break;
                    }
                    case Shape::Group: {
                        Blob g;
                        Blob self;
                        self.add(officeArt(1, 0, 0xF009, Bytes(16, 0)));
                        self.add(shapeRecord(0, spid++, 0x201));
                        self.add(anchor(0, 0));
                        self.add(kClientData);
                        self.cut({{0x005D, obj(0, id++)}});
                        g.add(self.container(0xF004, 0, m_containerVersion));
                        for (std::uint32_t pib : shape.pibs) {
                            Blob child;
                            child.add(shapeRecord(75, spid++, 0xA02));
                            child.add(properties({{0x4104, pib}}));
                            child.add(officeArt(0, 0, 0xF00F, Bytes(16, 0)));
                            child.add(kClientData);
                            child.cut({{0x005D, obj(8, id++)}});
                            g.add(child.container(0xF004, 0, m_containerVersion));
                        }
                        patriarch.add(g.container(0xF003, 0, m_containerVersion));
                        break;
                    }
                }
            }
            Bytes fdg;
            add32(fdg, spid - 1024);
            add32(fdg, spid);
            Blob drawing;
            drawing.add(officeArt(0, 1, 0xF008, fdg));
            drawing.add(patriarch.container(0xF003, 0, m_containerVersion));
            drawing = drawing.container(0xF002, 0, m_containerVersion);

            Records records;
            std::size_t at = 0;
            bool first = true;
            auto piece = [&](std::size_t end) {
                if (end > at) {
                    Bytes data(drawing.bytes.begin() + long(at), drawing.bytes.begin() + long(end));
                    addRecords(records, first || !m_continues ? 0x00EC : 0x003C, data,
                               kMaxRecordData);
                    first = false;
                }
                at = end;
            };
            for (const auto& [end, follow] : drawing.cuts) {
                piece(end);
                records.insert(records.end(), follow.begin(), follow.end());
            }
            piece(drawing.bytes.size());
            for (const auto& [type, data] : records) {
                write(type, data);
            }
        }
        write(0x000A, {});
    }
    return out;
}

std::vector<std::uint8_t> BiffBuilder::xls() const {
    return CfbBuilder().stream("Workbook", stream()).bytes();
}

Biff5Builder& Biff5Builder::worksheet(std::string name) {
    m_sheets.push_back({std::move(name), {}});
    return *this;
}

Biff5Builder& Biff5Builder::picture(std::uint16_t clipboardFormat, std::vector<std::uint8_t> image,
                                    std::size_t firstBytes) {
    m_sheets.back().pictures.push_back({clipboardFormat, std::move(image), firstBytes});
    return *this;
}

std::vector<std::uint8_t> Biff5Builder::stream() const {
    Bytes out;
    auto write = [&out](std::uint16_t type, const Bytes& data) {
        add16(out, type);
        add16(out, std::uint16_t(data.size()));
        append(out, data);
    };
    auto bof = [](std::uint16_t kind) {
        Bytes b;
        add16(b, 0x0500);
        add16(b, kind);
        b.resize(8, 0);
        return b;
    };
    write(0x0809, bof(0x0005));
    std::vector<std::size_t> offsets;
    for (const Sheet& sheet : m_sheets) {
        offsets.push_back(out.size() + 4);
        Bytes b = {0, 0, 0, 0, 0, 0, std::uint8_t(sheet.name.size())};
        append(b, Bytes(sheet.name.begin(), sheet.name.end()));
        write(0x0085, b);
    }
    write(0x000A, {});
    for (std::size_t s = 0; s < m_sheets.size(); ++s) {
        put32(out, offsets[s], std::uint32_t(out.size()));
        write(0x0809, bof(0x0010));
        std::uint16_t row = 0;
        for (const Picture& picture : m_sheets[s].pictures) {
            Bytes object(34, 0);  // the BIFF5 Obj: type 8, a picture, anchored in column B
            put16(object, 4, 8);
            put16(object, 10, 1);
            put16(object, 14, row);
            row = std::uint16_t(row + 5);
            write(0x005D, object);
            Bytes imData;
            add16(imData, picture.clipboardFormat);
            add16(imData, 1);  // written on Windows
            add32(imData, std::uint32_t(picture.image.size()));
            Records records;
            std::size_t first = std::min(picture.firstBytes, picture.image.size());
            append(imData, Bytes(picture.image.begin(), picture.image.begin() + long(first)));
            write(0x007F, imData);
            if (first < picture.image.size()) {
                addRecords(records, 0x003C,
                           Bytes(picture.image.begin() + long(first), picture.image.end()), 2080);
            }
            for (const auto& [type, data] : records) {
                write(type, data);
            }
        }
        write(0x000A, {});
    }
    return out;
}

std::vector<std::uint8_t> Biff5Builder::xls() const {
    return CfbBuilder().stream("Book", stream()).bytes();
}

std::vector<std::uint8_t> clipboardMetafile(std::int16_t mapMode, std::int16_t xExt,
                                            std::int16_t yExt,
                                            const std::vector<std::uint8_t>& metafile) {
    Bytes b;
    for (std::int16_t v : {mapMode, xExt, yExt, std::int16_t(0)}) {
        add16(b, std::uint16_t(v));
    }
    append(b, metafile);
    return b;
}

std::vector<std::uint8_t> zlibCompressed(const std::vector<std::uint8_t>& bytes) {
    uLongf size = compressBound(uLong(bytes.size()));
    Bytes out(size);
    compress2(out.data(), &size, bytes.data(), uLong(bytes.size()), 9);
    out.resize(size);
    return out;
}

std::vector<std::uint8_t> dibImage(int width, int height) {
    Bytes b;
    add32(b, 40);
    add32(b, std::uint32_t(width));
    add32(b, std::uint32_t(height));
    add16(b, 1);
    add16(b, 24);
    add32(b, 0);
    std::size_t stride = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    add32(b, std::uint32_t(stride * std::size_t(height)));
    b.resize(40, 0);
    for (std::size_t i = 0; i < stride * std::size_t(height); ++i) {
        b.push_back(std::uint8_t(i * 37));
    }
    return b;
}

std::vector<std::uint8_t> wmfImage() {
    // METAHEADER (standard, 9 words), one record: EOF.
    Bytes b;
    for (std::uint16_t w : {1, 9, 0x0300, 12, 0, 0, 3, 0, 0}) {
        add16(b, w);
    }
    add32(b, 3);
    add16(b, 0);
    return b;
}

}  // namespace testing_support
