// Binary workbooks (.xls) built in code: which shapes are pictures, in what order, with which
// bytes, however the records are cut; and what each kind of damage gives.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "builders/biffbuilder.h"
#include "builders/cfbbuilder.h"
#include "builders/xlsxbuilder.h"
#include "metafile/metafile.h"
#include "workbook/bitmapinfo.h"
#include "workbook/imageformat.h"
#include "workbook/workbook.h"
#include "workbook/xls/compoundfile.h"
#include "workbook/xls/rc4crypto.h"
#include "workbook/xls/xlsdecryption.h"
#include "workbook/xls/xlsworkbook.h"

using namespace testing_support;
using workbook::ImageFormat;
using workbook::ProblemKind;

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kPng = pngImage(6, 4);
const Bytes kJpeg = jpegImage(5, 7);
const Bytes kDib = dibImage(3, 2);
const Bytes kWmf = wmfImage();

// Blips 1 PNG, 2 JPEG, 3 DIB, 4 WMF, 5 empty. Worksheet "Shapes" holds, in z-order: a PNG,
// a group of two pictures, an OLE object, a text box, a DIB at C6, an embedded chart with a
// picture of its own, a WMF; then a chart sheet, a hidden worksheet with the JPEG, a dialog
// sheet.
BiffBuilder richWorkbook() {
    BiffBuilder b;
    b.blip(BiffBuilder::kPng, kPng)
        .blip(BiffBuilder::kJpeg, kJpeg)
        .blip(BiffBuilder::kDib, kDib)
        .blip(BiffBuilder::kWmf, kWmf)
        .emptyBlipSlot();
    b.worksheet("Shapes")
        .picture(1)
        .group({2, 1})
        .oleObject(4)
        .textBox("Note")
        .picture(3, 2, 5)
        .chart()
        .picture(4);
    b.chartsheet("Chart").worksheet("Hidden", 1).picture(2).dialogsheet("Dialog");
    return b;
}

std::unique_ptr<workbook::Workbook> openOk(const Bytes& bytes) {
    auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(bytes));
    if (!opened) {
        ADD_FAILURE() << "did not open: " << opened.problem().describe();
        return nullptr;
    }
    return std::move(opened.value());
}

std::string problemsOf(const workbook::Workbook& book) {
    std::string text;
    for (const auto& p : book.problems()) {
        text += p.describe() + "\n";
    }
    return text;
}

// A workbook stream written record by record, for layouts the builder does not make.
struct RecordWriter {
    Bytes s;
    std::size_t record(std::uint16_t type, const Bytes& data) {
        s.resize(s.size() + 4);
        put16(s, s.size() - 4, type);
        put16(s, s.size() - 2, std::uint16_t(data.size()));
        s.insert(s.end(), data.begin(), data.end());
        return s.size() - data.size();
    }
};

std::string describeOpen(const Bytes& bytes) {
    auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(bytes));
    return opened ? "opened" : opened.problem().describe();
}

}  // namespace

TEST(XlsPictures, WorksheetsAndTopLevelPicturesHoweverTheRecordsAreCut) {
    struct Layout {
        const char* name;
        std::function<Bytes(BiffBuilder)> make;
    };
    const std::vector<Layout> layouts = {
        {"as written", [](BiffBuilder b) { return b.xls(); }},
        {"drawing continued after Obj, TxO and the chart",
         [](BiffBuilder b) { return b.drawingInContinues().xls(); }},
        {"containers written with version 0",
         [](BiffBuilder b) { return b.containerVersion(0).xls(); }},
        {"blip store split over CONTINUEs",
         [](BiffBuilder b) { return b.drawingGroupRecords(97).xls(); }},
        {"blip store split over repeated group records",
         [](BiffBuilder b) { return b.drawingGroupRecords(500, true).xls(); }},
        {"allocation table partly listed in a DIFAT sector",
         [](BiffBuilder b) {
             return CfbBuilder()
                 .fatSectorsInHeader(1)
                 .stream("Filler", Bytes(70000, 7))
                 .stream("Workbook", b.stream())
                 .bytes();
         }},
        {"stream in the mini stream",
         [](BiffBuilder b) {
             // Under 4096 bytes, the stream lives in 64-byte mini sectors.
             Bytes stream = b.stream();
             EXPECT_LT(stream.size(), 4096u);
             return CfbBuilder()
                 .stream("\x05SummaryInformation", Bytes(5000, 1))
                 .stream("BOOK", stream)
                 .bytes();
         }},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        auto book = openOk(layout.make(richWorkbook()));
        ASSERT_TRUE(book);
        EXPECT_EQ(problemsOf(*book), "");
        ASSERT_EQ(book->worksheets().size(), 2u);
        EXPECT_EQ(book->worksheets()[0].name, "Shapes");
        EXPECT_EQ(book->worksheets()[1].name, "Hidden");
        const auto& shapes = book->worksheets()[0].pictures;
        ASSERT_EQ(shapes.size(), 3u);
        EXPECT_EQ(shapes[0].format, ImageFormat::Png);
        EXPECT_EQ(shapes[1].format, ImageFormat::Dib);
        EXPECT_EQ(shapes[1].width, 3);
        EXPECT_EQ(shapes[1].height, 2);
        EXPECT_EQ(shapes[1].cell, "C6");
        EXPECT_EQ(shapes[2].format, ImageFormat::Wmf);
        EXPECT_EQ(shapes[2].width, 200);  // from the metafile header's size in EMUs
        EXPECT_EQ(book->readPictureBytes(0, 0).value(), kPng);
        EXPECT_EQ(book->readPictureBytes(0, 1).value(), kDib);
        EXPECT_EQ(book->readPictureBytes(0, 2).value(), kWmf);
        ASSERT_EQ(book->worksheets()[1].pictures.size(), 1u);
        EXPECT_EQ(book->worksheets()[1].pictures[0].format, ImageFormat::Jpeg);
        EXPECT_EQ(book->readPictureBytes(1, 0).value(), kJpeg);
    }
}

TEST(XlsPictures, LargeBlipStoreInFullOrUnevenContinuesGivesTheSameBytes) {
    // Blips spanning many records: read from the layout writers use (full CONTINUEs, three
    // headers checked) or record by record when the records are uneven or run on.
    Bytes big1(30000), big2(45000);
    for (std::size_t i = 0; i < big2.size(); ++i) {
        big2[i] = std::uint8_t(i * 13 + i / 509);
        if (i < big1.size()) {
            big1[i] = std::uint8_t(i * 7 + i / 251);
        }
    }
    for (auto cut : {std::pair<std::size_t, std::size_t>{8224, 8224}, {8000, 8224}, {8224, 3000}}) {
        SCOPED_TRACE(std::to_string(cut.second) + " then " + std::to_string(cut.first));
        BiffBuilder b;
        b.blip(BiffBuilder::kJpeg, big1).blip(BiffBuilder::kDib, big2);
        b.worksheet("S").picture(2).picture(1);
        b.drawingGroupRecords(cut.first, false, cut.second);
        Bytes stream = b.stream();
        auto book = openOk(CfbBuilder().stream("Workbook", stream).bytes());
        ASSERT_TRUE(book);
        EXPECT_EQ(problemsOf(*book), "");
        EXPECT_EQ(book->readPictureBytes(0, 0).value(), big2);
        EXPECT_EQ(book->readPictureBytes(0, 1).value(), big1);
    }
}

TEST(XlsPictures, LinkedAndMissingBlipsAreCountedWithoutBytes) {
    BiffBuilder b;
    b.blip(BiffBuilder::kPng, kPng).emptyBlipSlot();
    b.worksheet("S").linkedPicture("C:\\pics\\logo.png").picture(2).picture(9).picture(1);
    auto book = openOk(b.xls());
    ASSERT_TRUE(book);
    const auto& pictures = book->worksheets()[0].pictures;
    ASSERT_EQ(pictures.size(), 4u);
    EXPECT_TRUE(pictures[0].linked);
    EXPECT_EQ(pictures[0].link, "C:\\pics\\logo.png");
    EXPECT_EQ(book->readPictureBytes(0, 0).problem().kind, ProblemKind::LinkedImage);
    EXPECT_EQ(book->readPictureBytes(0, 1).problem().describe(),
              "the workbook is damaged (worksheet 'S': picture 'Picture' shows blip 2, which "
              "the blip store does not hold)");
    EXPECT_FALSE(book->readPictureBytes(0, 2));
    EXPECT_EQ(book->readPictureBytes(0, 3).value(), kPng);
}

// A WMF blip, kept without its placeable header, is listed at the blip's own size; another
// metafile at the size the sniffer gives its whole inflated bytes, even where what decides it
// lies past the first records. Either is the size it is drawn at.
TEST(XlsPictures, MetafilesAreListedAtTheSizeTheyAreDrawnAt) {
    auto le = [](Bytes& b, std::initializer_list<std::uint16_t> words) {
        for (std::uint16_t w : words) {
            b.push_back(std::uint8_t(w));
            b.push_back(std::uint8_t(w >> 8));
        }
    };
    // A WMF without a placeable header whose window extent comes after twenty other records.
    Bytes wmf;
    le(wmf, {1, 9, 0x0300, 0, 0, 0, 0, 0, 0});
    for (int i = 0; i < 20; ++i) {
        le(wmf, {4, 0, 0x0102, 1});  // SetBkMode
    }
    le(wmf, {5, 0, 0x020B, 0, 0, 5, 0, 0x020C, 90, 120, 3, 0, 0});  // origin, extent, EOF
    // A version 1 PICT: its frame, then its opcodes.
    Bytes pict;
    for (std::uint16_t w : {14, 0, 0, 48, 64}) {
        pict.push_back(std::uint8_t(w >> 8));
        pict.push_back(std::uint8_t(w));
    }
    for (std::uint8_t op : {0x11, 0x01, 0x00, 0xFF}) {  // version, no-op, end
        pict.push_back(op);
    }
    BiffBuilder b;
    b.blip(BiffBuilder::kWmf, wmf).blip(BiffBuilder::kPict, pict);
    b.worksheet("S").picture(1).picture(2).picture(1);
    auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(b.xls()),
                                         {.sniff = metafile::sniffDrawnImage});
    ASSERT_TRUE(opened) << opened.problem().describe();
    auto& book = opened.value();
    const auto& pictures = book->worksheets()[0].pictures;
    ASSERT_EQ(pictures.size(), 3u);
    // Pictures showing one blip say so, and the metafile inflated once copies alike.
    EXPECT_EQ(pictures[0].imageId, pictures[2].imageId);
    EXPECT_NE(pictures[0].imageId, pictures[1].imageId);
    EXPECT_EQ(book->readPictureBytes(0, 2).value(), wmf);
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        auto bytes = book->readPictureBytes(0, i);
        ASSERT_TRUE(bytes);
        const workbook::ImageInfo sniffed =
            metafile::sniffDrawnImage(bytes.value().data(), bytes.value().size());
        EXPECT_EQ(pictures[i].format, i == 0 ? ImageFormat::Wmf : ImageFormat::Pict);
        EXPECT_EQ(sniffed.format, pictures[i].format);
        EXPECT_EQ(sniffed.width, i == 0 ? 120 : 64);
        // The builder's blips state 200 x 100 pixels.
        EXPECT_EQ(pictures[i].width, i == 0 ? 200 : sniffed.width);
        EXPECT_EQ(pictures[i].height, i == 0 ? 100 : sniffed.height);
    }
}

TEST(XlsDamage, EachDefectGivesItsKindAndPlace) {
    struct Row {
        const char* defect;
        std::function<void(Bytes&, const CfbLayout&)> damage;
        std::string described;
    };
    // The stream is 4096 bytes or more, so it has its own sector chain; entry 1 is Workbook.
    BiffBuilder big = richWorkbook();
    big.blip(BiffBuilder::kJpeg, Bytes(6000, 0x42));
    const std::size_t wbEntry = 128;
    std::vector<Row> rows = {
        {"sector chain loops",
         [](Bytes& b, const CfbLayout& l) {
             put32(b, l.fatOffset + 4 * (l.firstSector[0] + 1), l.firstSector[0]);
         },
         "the workbook is damaged (compound file: the chain of stream Workbook loops)"},
        {"sector past the end",
         [](Bytes& b, const CfbLayout& l) { put32(b, l.fatOffset + 4 * l.firstSector[0], 90000); },
         "the workbook is damaged (compound file: the chain of stream Workbook leaves the "
         "file)"},
        {"directory chain loops",
         [](Bytes& b, const CfbLayout& l) {
             std::uint32_t dir = std::uint32_t(l.directoryOffset / 512 - 1);
             put32(b, l.fatOffset + 4 * dir, dir);
         },
         "the workbook is damaged (compound file: the chain of the directory loops)"},
        {"major version 0", [](Bytes& b, const CfbLayout&) { put16(b, 0x1A, 0); },
         "the workbook is damaged (compound file: bad header)"},
        {"header cut short", [](Bytes& b, const CfbLayout&) { b.resize(300); },
         "the workbook is damaged (compound file: the header is cut short)"},
        {"no workbook stream",
         [wbEntry](Bytes& b, const CfbLayout& l) { b[l.directoryOffset + wbEntry] = 'X'; },
         "the file is not a workbook (it is a compound file without a workbook)"},
        {"stream does not start with BOF",
         [](Bytes& b, const CfbLayout& l) { b[512 * (l.firstSector[0] + 1)] = 0x10; },
         "the workbook is damaged (stream Workbook: the stream does not start with a BOF "
         "record)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.defect);
        CfbLayout layout;
        Bytes bytes = CfbBuilder().stream("Workbook", big.stream()).bytes(&layout);
        row.damage(bytes, layout);
        EXPECT_EQ(describeOpen(bytes), row.described);
    }
    BiffBuilder encrypted = richWorkbook();
    encrypted.globalsRecord(0x002F, {1, 0, 1, 0, 1, 0});
    EXPECT_EQ(describeOpen(encrypted.xls()), "the workbook is password-protected");
    EXPECT_EQ(describeOpen({0x09, 0x04, 6, 0, 0, 0, 0x10, 0, 0, 0}),
              "this workbook format is not supported yet (an older workbook format, BIFF2 to "
              "BIFF4)");
}

TEST(XlsDamage, DamageInsideTheWorkbookKeepsWhatItDoesNotTouch) {
    // A directory whose sibling links loop still lists the workbook stream.
    CfbLayout layout;
    Bytes bytes = CfbBuilder().stream("Workbook", richWorkbook().stream()).bytes(&layout);
    put32(bytes, layout.directoryOffset + 128 + 0x48, 1);
    auto book = openOk(bytes);
    ASSERT_TRUE(book);
    EXPECT_EQ(book->worksheets()[0].pictures.size(), 3u);

    // A drawing whose record runs past its container: that worksheet says so, keeps the
    // shapes read before it; the other worksheet keeps all of its pictures.
    BiffBuilder two;
    two.blip(BiffBuilder::kPng, kPng);
    two.worksheet("A").picture(1).picture(1).worksheet("B").picture(1);
    Bytes stream = two.stream();
    // The second picture's FSP record (F00A, a picture frame) in sheet A: an absurd length.
    const Bytes fsp = {0xB2, 0x04, 0x0A, 0xF0};
    auto first = std::search(stream.begin(), stream.end(), fsp.begin(), fsp.end());
    auto second = std::search(first + 4, stream.end(), fsp.begin(), fsp.end());
    put32(stream, std::size_t(second - stream.begin()) + 4, 0x7FFFFFFF);
    book = openOk(CfbBuilder().stream("Workbook", stream).bytes());
    ASSERT_TRUE(book);
    EXPECT_EQ(book->worksheets()[0].pictures.size(), 1u);
    EXPECT_EQ(book->worksheets()[1].pictures.size(), 1u);
    EXPECT_EQ(problemsOf(*book),
              "the workbook is damaged (worksheet 'A' drawing: a record at byte 182 runs past its "
              "container)\n");

    // A last record longer than what remains of the stream.
    stream = two.stream();
    put16(stream, stream.size() - 2, 200);
    book = openOk(CfbBuilder().stream("Workbook", stream).bytes());
    ASSERT_TRUE(book);
    EXPECT_EQ(book->worksheets()[1].pictures.size(), 1u);
    EXPECT_NE(problemsOf(*book).find("worksheet 'B', record"), std::string::npos)
        << problemsOf(*book);
}

TEST(Dib, FileHeaderPointsPastColourTableAndMasks) {
    auto header = [](std::uint32_t size, std::uint16_t bits, std::uint32_t compression,
                     std::uint32_t used) {
        Bytes b(size + 2048, 0);
        put32(b, 0, size);
        if (size == 12) {
            put16(b, 4, 4);
            put16(b, 6, 4);
            put16(b, 10, bits);
        } else {
            put32(b, 4, 4);
            put32(b, 8, std::uint32_t(-4));  // top-down
            put16(b, 14, bits);
            put32(b, 16, compression);
            put32(b, 32, used);
        }
        return b;
    };
    auto cut = [](Bytes b, std::size_t size) {
        b.resize(size);
        return b;
    };
    struct Row {
        const char* name;
        Bytes dib;
        std::uint32_t offBits;  // 0: unusable
    };
    const std::vector<Row> rows = {
        {"24 bits", header(40, 24, 0, 0), 54},
        {"8 bits, full table", header(40, 8, 0, 0), 54 + 1024},
        {"4 bits, 3 colours used", header(40, 4, 0, 3), 54 + 12},
        {"16 bits with masks", header(40, 16, 3, 0), 54 + 12},
        {"v5 header keeps its masks", header(124, 32, 3, 0), 14 + 124},
        {"core header, 8 bits", header(12, 8, 0, 0), 14 + 12 + 768},
        {"unknown header size", header(20, 24, 0, 0), 0},
        {"odd bit depth", header(40, 7, 0, 0), 0},
        {"colour table past the end", cut(header(40, 8, 0, 0), 100), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes bmp = workbook::bmpFileFromDib(row.dib.data(), row.dib.size());
        if (row.offBits == 0) {
            EXPECT_TRUE(bmp.empty());
            continue;
        }
        ASSERT_EQ(bmp.size(), row.dib.size() + 14);
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(bmp[1], 'M');
        EXPECT_EQ(bmp[2] | (bmp[3] << 8) | (bmp[4] << 16), int(bmp.size()));
        EXPECT_EQ(std::uint32_t(bmp[10] | (bmp[11] << 8)), row.offBits);
        EXPECT_TRUE(std::equal(row.dib.begin(), row.dib.end(), bmp.begin() + 14));
    }
}

// Inputs the fuzzers once found troublesome: compound files under fuzz/compoundfile, whose
// every stream must read whole, and workbook streams under fuzz/xlsstream.
TEST(XlsDamage, FuzzFindingsStayFixed) {
    const std::filesystem::path folder = std::filesystem::path(QUILLFEN_TEST_DATA_DIR) / "fuzz";
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "compoundfile")) {
        SCOPED_TRACE(entry.path().filename().string());
        ++found;
        workbook::MemorySource source(
            std::make_shared<const Bytes>(readFileBytes(entry.path().string())));
        auto file = workbook::CompoundFile::open(source);
        for (std::size_t i = 0; file && i < file.value().entries().size(); ++i) {
            if (auto stream = file.value().openStream(i); stream) {
                Bytes all(std::size_t(stream.value().source->size()));
                EXPECT_TRUE(stream.value().source->read(0, all.data(), all.size()));
            }
        }
    }
    if (std::filesystem::exists(folder / "xlsstream")) {
        for (const auto& entry : std::filesystem::directory_iterator(folder / "xlsstream")) {
            SCOPED_TRACE(entry.path().filename().string());
            ++found;
            auto opened =
                workbook::XlsWorkbook::openStream(std::make_unique<workbook::MemorySource>(
                    std::make_shared<const Bytes>(readFileBytes(entry.path().string()))));
            for (std::size_t s = 0; opened && s < opened.value()->worksheets().size(); ++s) {
                for (std::size_t p = 0; p < opened.value()->worksheets()[s].pictures.size(); ++p) {
                    (void)opened.value()->readPictureBytes(s, p);
                }
            }
        }
    }
    EXPECT_GT(found, 0);
}

TEST(XlsEncryption, DigestsAndCipherGiveTheirPublishedValues) {
    auto hex = [](const auto& bytes) {
        std::string out;
        for (std::uint8_t b : bytes) {
            out += "0123456789abcdef"[b >> 4];
            out += "0123456789abcdef"[b & 15];
        }
        return out;
    };
    auto text = [](const char* s) { return Bytes(s, s + std::strlen(s)); };
    const Bytes empty, abc = text("abc");
    const Bytes twoBlocks = text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq");
    EXPECT_EQ(hex(workbook::md5(empty.data(), 0)), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(hex(workbook::md5(abc.data(), 3)), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hex(workbook::md5(twoBlocks.data(), twoBlocks.size())),
              "8215ef0796a20bcaaae116d3876c664a");
    EXPECT_EQ(hex(workbook::sha1(abc.data(), 3)), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hex(workbook::sha1(twoBlocks.data(), twoBlocks.size())),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    Bytes plain = text("Plaintext");
    workbook::Rc4(text("Key").data(), 3).apply(plain.data(), plain.size());
    EXPECT_EQ(hex(plain), "bbf316e8d940af0ad3");
}

TEST(XlsEncryption, RealWorkbookVerifiesOnlyWithItsPassword) {
    // password.xls's FILEPASS: RC4 with salt, encrypted verifier and hash; its password is
    // "password".
    const char* hex =
        "01000100010068a75dab8dff01c4fa376368e65efc5fdaa7a36e2421fba36ab4ec92fa2aa09af789693"
        "5e1c3adb71628edb7543c09fa";
    Bytes filePass;
    for (std::size_t i = 0; hex[i] != 0; i += 2) {
        filePass.push_back(std::uint8_t(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    }
    EXPECT_TRUE(workbook::xlsDecryptor(filePass, u"password"));
    EXPECT_FALSE(workbook::xlsDecryptor(filePass, workbook::kDefaultXlsPassword));
}

namespace {

// FILEPASS data whose verifier is encrypted for password: RC4 for keyBits 0, else RC4
// CryptoAPI with that key length. The block 0 key is derived here as [MS-OFFCRYPTO] gives it.
Bytes filePassFor(std::uint32_t keyBits, std::u16string_view password) {
    Bytes secret;
    for (char16_t c : password) {
        secret.push_back(std::uint8_t(c));
        secret.push_back(std::uint8_t(c >> 8));
    }
    const Bytes salt(16, 0x3C), verifier(16, 0x7E);
    Bytes key, fields = verifier, out;
    if (keyBits == 0) {
        auto h0 = workbook::md5(secret.data(), secret.size());
        Bytes buffer;
        for (int i = 0; i < 16; ++i) {
            buffer.insert(buffer.end(), h0.begin(), h0.begin() + 5);
            buffer.insert(buffer.end(), salt.begin(), salt.end());
        }
        auto h1 = workbook::md5(buffer.data(), buffer.size());
        Bytes blockInput(h1.begin(), h1.begin() + 5);
        blockInput.resize(9, 0);
        auto k = workbook::md5(blockInput.data(), blockInput.size());
        key.assign(k.begin(), k.end());
        auto hash = workbook::md5(verifier.data(), verifier.size());
        fields.insert(fields.end(), hash.begin(), hash.end());
        out = {1, 0, 1, 0, 1, 0};
        out.insert(out.end(), salt.begin(), salt.end());
    } else {
        Bytes input = salt;
        input.insert(input.end(), secret.begin(), secret.end());
        auto h0 = workbook::sha1(input.data(), input.size());
        Bytes blockInput(h0.begin(), h0.end());
        blockInput.resize(24, 0);
        auto k = workbook::sha1(blockInput.data(), blockInput.size());
        key.assign(k.begin(), k.begin() + keyBits / 8);
        key.resize(16, 0);  // a 40-bit key is padded
        auto hash = workbook::sha1(verifier.data(), verifier.size());
        fields.insert(fields.end(), hash.begin(), hash.end());
        out = {1, 0, 4, 0, 2, 0, 0x24, 0, 0, 0};
        Bytes header(32, 0);
        put32(header, 8, 0x6801);   // RC4
        put32(header, 12, 0x8004);  // SHA-1
        put32(header, 16, keyBits);
        put32(out, 6, 0x24);
        out.resize(14, 0);
        put32(out, 10, std::uint32_t(header.size()));
        out.insert(out.end(), header.begin(), header.end());
        out.insert(out.end(), {16, 0, 0, 0});
        out.insert(out.end(), salt.begin(), salt.end());
    }
    workbook::Rc4(key.data(), key.size()).apply(fields.data(), fields.size());
    if (keyBits == 0) {
        out.insert(out.end(), fields.begin(), fields.end());
    } else {
        out.insert(out.end(), fields.begin(), fields.begin() + 16);
        out.insert(out.end(), {20, 0, 0, 0});
        out.insert(out.end(), fields.begin() + 16, fields.end());
    }
    return out;
}

// Encrypts a plain stream's records after its FILEPASS as the application does.
Bytes encrypted(Bytes stream, const Bytes& filePass, std::u16string_view password) {
    auto cipher = workbook::xlsDecryptor(filePass, password);
    EXPECT_TRUE(cipher);
    bool after = false;
    for (std::size_t at = 0; cipher && at + 4 <= stream.size();) {
        std::uint16_t type = workbook::biff::le16(&stream[at]);
        std::size_t size = workbook::biff::le16(&stream[at + 2]);
        std::size_t clear = type == 0x0085 ? 4 : workbook::biff::isNeverEncrypted(type) ? size : 0;
        if (after && clear < size) {
            cipher->decrypt(at + 4 + clear, &stream[at + 4 + clear], size - clear);
        }
        after = after || type == 0x002F;
        at += 4 + size;
    }
    return stream;
}

}  // namespace

TEST(XlsEncryption, DefaultPasswordOpensWithoutAskingAndAnyOtherIsProtected) {
    for (std::uint32_t keyBits : {0u, 40u, 128u}) {
        SCOPED_TRACE("key bits " + std::to_string(keyBits));
        for (std::u16string_view password :
             {workbook::kDefaultXlsPassword, std::u16string_view(u"secret")}) {
            Bytes filePass = filePassFor(keyBits, password);
            BiffBuilder b = richWorkbook();
            b.globalsRecord(0x002F, filePass);
            Bytes xls =
                CfbBuilder().stream("Workbook", encrypted(b.stream(), filePass, password)).bytes();
            if (password != workbook::kDefaultXlsPassword) {
                EXPECT_EQ(describeOpen(xls), "the workbook is password-protected");
                continue;
            }
            auto book = openOk(xls);
            ASSERT_TRUE(book);
            EXPECT_EQ(book->worksheets()[0].name, "Shapes");
            ASSERT_EQ(book->worksheets()[0].pictures.size(), 3u);
            EXPECT_EQ(book->readPictureBytes(0, 1).value(), kDib);
            EXPECT_EQ(book->readPictureBytes(0, 2).value(), kWmf);
            EXPECT_EQ(book->readPictureBytes(1, 0).value(), kJpeg);
        }
    }
}

TEST(XlsPictures, OlderBiff5WorkbookGivesItsBitmapPictures) {
    // Globals with a code page and three sheets (a chart sheet between two worksheets), then
    // each sheet: a picture is an Obj of type 8 followed by ImData, its bitmap continued in a
    // CONTINUE.
    Bytes bitmap(12, 0);
    put32(bitmap, 0, 12);  // BITMAPCOREHEADER, 2 x 2, 24 bits
    put16(bitmap, 4, 2);
    put16(bitmap, 6, 2);
    put16(bitmap, 8, 1);
    put16(bitmap, 10, 24);
    for (int i = 0; i < 16; ++i) {
        bitmap.push_back(std::uint8_t(i * 9));
    }
    RecordWriter w;
    Bytes& s = w.s;
    auto record = [&w](std::uint16_t type, const Bytes& data) { w.record(type, data); };
    auto bof = [](std::uint16_t kind) { return Bytes{0, 5, std::uint8_t(kind), 0, 0, 0, 0, 0}; };
    auto obj = [](std::uint16_t type, std::uint16_t column, std::uint16_t row) {
        Bytes b(34, 0);
        put16(b, 4, type);
        put16(b, 10, column);
        put16(b, 14, row);
        return b;
    };
    record(0x0809, bof(0x0005));
    record(0x0042, {0xE4, 0x04});  // Windows-1252
    std::vector<std::size_t> offsets;
    for (const std::string name : {"Caf\xE9", "Chart", "Two"}) {
        offsets.push_back(s.size() + 4);
        Bytes b = {0, 0, 0, 0, 0, std::uint8_t(name == "Chart" ? 2 : 0), std::uint8_t(name.size())};
        b.insert(b.end(), name.begin(), name.end());
        record(0x0085, b);
    }
    record(0x000A, {});
    for (std::size_t sheet = 0; sheet < 3; ++sheet) {
        put32(s, offsets[sheet], std::uint32_t(s.size()));
        record(0x0809, bof(sheet == 1 ? 0x0020 : 0x0010));
        if (sheet == 0) {
            record(0x005D, obj(5, 0, 0));  // an embedded chart, skipped with its substream
            record(0x0809, bof(0x0020));
            record(0x005D, obj(8, 9, 9));
            record(0x000A, {});
            record(0x005D, obj(8, 1, 4));
            Bytes imData = {9, 0, 1, 0};
            imData.resize(8, 0);
            put32(imData, 4, std::uint32_t(bitmap.size()));
            imData.insert(imData.end(), bitmap.begin(), bitmap.begin() + 20);
            record(0x007F, imData);
            record(0x003C, Bytes(bitmap.begin() + 20, bitmap.end()));
            record(0x005D, obj(8, 0, 0));  // a picture whose image is missing
        }
        record(0x000A, {});
    }
    auto book = openOk(CfbBuilder().stream("Book", s).bytes());
    ASSERT_TRUE(book);
    ASSERT_EQ(book->worksheets().size(), 2u);
    EXPECT_EQ(book->worksheets()[0].name, "Caf\xC3\xA9");
    EXPECT_EQ(book->worksheets()[1].name, "Two");
    const auto& pictures = book->worksheets()[0].pictures;
    ASSERT_EQ(pictures.size(), 2u);
    EXPECT_EQ(pictures[0].format, ImageFormat::Dib);
    EXPECT_EQ(pictures[0].cell, "B5");
    EXPECT_EQ(pictures[0].width, 2);
    EXPECT_EQ(book->readPictureBytes(0, 0).value(), bitmap);
    EXPECT_EQ(book->readPictureBytes(0, 1).problem().describe(),
              "the workbook is damaged (worksheet 'Caf\xC3\xA9': a picture has no image data)");
    Bytes bmp = workbook::bmpFileFromDib(bitmap.data(), bitmap.size());
    EXPECT_EQ(bmp.size(), bitmap.size() + 14);
    EXPECT_EQ(bmp[10], 14 + 12);
}

TEST(XlsDamage, SheetEntriesPointingIntoOneSubstreamCannotMultiplyTheWork) {
    // 3000 sheet entries, all at one worksheet of 1000 records: walking each would read three
    // million records. The walks stop at a bound; every worksheet is still listed.
    RecordWriter w;
    w.record(0x0809, {0, 6, 5, 0});
    std::vector<std::size_t> entries;
    for (int i = 0; i < 3000; ++i) {
        entries.push_back(w.record(0x0085, {0, 0, 0, 0, 0, 0, 1, 0, 'S'}));
    }
    w.record(0x000A, {});
    std::uint32_t sheet = std::uint32_t(w.s.size());
    w.record(0x0809, {0, 6, 0x10, 0});
    for (int i = 0; i < 1000; ++i) {
        w.record(0x0200, {});
    }
    w.record(0x000A, {});
    for (std::size_t at : entries) {
        put32(w.s, at, sheet);
    }
    auto book = openOk(CfbBuilder().stream("Workbook", w.s).bytes());
    ASSERT_TRUE(book);
    EXPECT_EQ(book->worksheets().size(), 3000u);
    ASSERT_EQ(book->problems().size(), 1u);
    EXPECT_NE(book->problems()[0].describe().find("the sheets' records overlap"),
              std::string::npos);
}

TEST(XlsPictures, Biff5MetafilesAreDrawnAtTheSizeTheirClipboardHeaderStates) {
    // An anisotropic metafile: its window is 200 x 100 logical units, which says nothing of
    // its size; the METAFILEPICT before it does.
    Bytes wmf;
    for (std::uint16_t w :
         {1, 9, 0x0300, 0,      0,   0,   0, 0, 0,      4,  0,   0x0103, 8,  5, 0, 0x020B, 0,
          0, 5, 0,      0x020C, 100, 200, 7, 0, 0x041B, 90, 190, 10,     10, 3, 0, 0}) {
        wmf.push_back(std::uint8_t(w));
        wmf.push_back(std::uint8_t(w >> 8));
    }
    const Bytes kPlaceable = {0xD7, 0xCD, 0xC6, 0x9A};
    struct Row {
        const char* what;
        std::uint16_t clipboardFormat;
        Bytes image;
        std::size_t firstBytes;
        ImageFormat format;
        int width, height;  // as listed and as the copied bytes are drawn
        bool placeable;     // the copy is a placeable header, then the metafile
        const char* problem;
    };
    const std::vector<Row> rows = {
        {"2 x 1 inches in 0.01 mm", 2, clipboardMetafile(8, 5080, 2540, wmf), 2072,
         ImageFormat::Wmf, 192, 96, true, nullptr},
        {"METAFILEPICT cut by a CONTINUE", 2, clipboardMetafile(8, 5080, 2540, wmf), 5,
         ImageFormat::Wmf, 192, 96, true, nullptr},
        {"120 x 90 pixels", 2, clipboardMetafile(1, 120, 90, wmf), 2072, ImageFormat::Wmf, 120, 90,
         true, nullptr},
        {"1 x 0.5 inches in twips", 2, clipboardMetafile(6, 1440, 720, wmf), 2072, ImageFormat::Wmf,
         96, 48, true, nullptr},
        {"no suggested size: the header goes", 2, clipboardMetafile(8, 0, 0, wmf), 2072,
         ImageFormat::Wmf, 200, 100, false, nullptr},
        {"only an aspect: the header goes", 2, clipboardMetafile(7, -2, -1, wmf), 2072,
         ImageFormat::Wmf, 200, 100, false, nullptr},
        {"a bitmap", 9, kDib, 2072, ImageFormat::Dib, 3, 2, false, nullptr},
        {"metafile data that is no Windows metafile", 2, clipboardMetafile(8, 100, 100, kPng), 2072,
         ImageFormat::Unknown, 0, 0, false,
         "this workbook format is not supported yet (worksheet 'S': a metafile picture that is "
         "not a Windows metafile)"},
        {"an embedded object's own data", 14, Bytes(40, 1), 2072, ImageFormat::Unknown, 0, 0, false,
         "this workbook format is not supported yet (worksheet 'S': a picture stored in "
         "clipboard format 14)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Biff5Builder b;
        b.worksheet("S").picture(row.clipboardFormat, row.image, row.firstBytes).picture(9, kDib);
        auto opened = workbook::openWorkbook(std::make_shared<const Bytes>(b.xls()),
                                             {.sniff = metafile::sniffDrawnImage});
        ASSERT_TRUE(opened) << opened.problem().describe();
        auto& book = opened.value();
        EXPECT_EQ(problemsOf(*book), "");
        const auto& pictures = book->worksheets()[0].pictures;
        ASSERT_EQ(pictures.size(), 2u);
        EXPECT_EQ(pictures[0].format, row.format);
        EXPECT_EQ(pictures[0].width, row.width);
        EXPECT_EQ(pictures[0].height, row.height);
        EXPECT_EQ(pictures[0].cell, "B1");
        auto bytes = book->readPictureBytes(0, 0);
        if (row.problem != nullptr) {
            ASSERT_FALSE(bytes);
            EXPECT_EQ(bytes.problem().describe(), row.problem);
        } else {
            ASSERT_TRUE(bytes) << bytes.problem().describe();
            const Bytes& copied = bytes.value();
            EXPECT_EQ(pictures[0].byteCount, copied.size());
            const Bytes& stored = row.clipboardFormat == 2 ? wmf : row.image;
            ASSERT_EQ(copied.size(), stored.size() + (row.placeable ? 22 : 0));
            EXPECT_TRUE(
                std::equal(stored.begin(), stored.end(), copied.end() - long(stored.size())));
            EXPECT_EQ(std::equal(kPlaceable.begin(), kPlaceable.end(), copied.begin()),
                      row.placeable);
            if (row.placeable) {
                std::uint16_t checksum = 0;  // the header's eleven words XOR to zero
                for (std::size_t i = 0; i < 22; i += 2) {
                    checksum ^= std::uint16_t(copied[i] | copied[i + 1] << 8);
                }
                EXPECT_EQ(checksum, 0);
            }
            const workbook::ImageInfo drawn =
                metafile::sniffDrawnImage(copied.data(), copied.size());
            EXPECT_EQ(drawn.width, row.width);
            EXPECT_EQ(drawn.height, row.height);
        }
        EXPECT_EQ(book->readPictureBytes(0, 1).value(), kDib);  // the next picture's bytes
    }
}
