#include "workbook/xls/xlsworkbook.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "workbook/bitmapinfo.h"
#include "workbook/limits.h"
#include "workbook/xls/metafilepict.h"
#include "workbook/xls/xlsdecryption.h"

namespace workbook {
namespace {

using biff::Record;
using biff::RecordReader;

constexpr std::uint16_t kPictureObject = 0x08;
constexpr std::uint16_t kPictureFrame = 75;
constexpr std::uint8_t kDialogFlag = 0x10;  // WsBool.fDialog
constexpr double kEmuPerPixel = 9525;       // at 96 dots per inch
constexpr std::int64_t kEmuPerInch = 914400;
// ImData clipboard formats: a Windows metafile behind its METAFILEPICT, a bitmap (a DIB).
constexpr std::uint16_t kClipboardMetafile = 2;
constexpr std::uint16_t kClipboardBitmap = 9;
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

enum class Inflated { Whole, Damaged, TooLarge };

// Inflates a zlib stream into out, at most cap bytes. With enough set, only the first bytes
// are wanted: the inflating stops once that many are there, and a cut stream is no fault.
Inflated inflateInto(const std::vector<std::uint8_t>& in, std::uint64_t cap,
                     std::vector<std::uint8_t>& out, std::size_t enough = 0) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        return Inflated::Damaged;
    }
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    out.clear();
    const std::size_t step = enough > 0 ? enough : std::size_t(64) << 10;
    Inflated result = Inflated::Damaged;
    for (;;) {
        if (out.size() >= cap) {
            // Full: the stream must end here, or it is larger than allowed.
            std::uint8_t probe = 0;
            z.next_out = &probe;
            z.avail_out = 1;
            int status = inflate(&z, Z_NO_FLUSH);
            result = status == Z_STREAM_END && z.avail_out == 1 ? Inflated::Whole
                     : z.avail_out == 0                         ? Inflated::TooLarge
                                                                : Inflated::Damaged;
            break;
        }
        std::size_t old = out.size();
        std::size_t grow = std::size_t(std::min<std::uint64_t>(cap - old, std::max(old, step)));
        out.resize(old + grow);
        z.next_out = out.data() + old;
        z.avail_out = uInt(grow);
        int status = inflate(&z, Z_NO_FLUSH);
        out.resize(old + grow - z.avail_out);
        if (status == Z_STREAM_END || (enough > 0 && out.size() >= enough)) {
            result = Inflated::Whole;
            break;
        }
        if ((status != Z_OK && status != Z_BUF_ERROR) || z.avail_out != 0) {
            // Corrupt data, or the input ran out before the stream's end.
            result = enough > 0 && status != Z_DATA_ERROR ? Inflated::Whole : Inflated::Damaged;
            break;
        }
    }
    inflateEnd(&z);
    return result;
}

ImageFormat formatOfBlip(std::uint16_t type) {
    switch (type) {
        case officeart::kBlipEmf:
            return ImageFormat::Emf;
        case officeart::kBlipWmf:
            return ImageFormat::Wmf;
        case officeart::kBlipPict:
            return ImageFormat::Pict;
        case officeart::kBlipJpeg:
        case officeart::kBlipJpegCmyk:
            return ImageFormat::Jpeg;
        case officeart::kBlipPng:
            return ImageFormat::Png;
        case officeart::kBlipDib:
            return ImageFormat::Dib;
        case officeart::kBlipTiff:
            return ImageFormat::Tiff;
        default:
            return ImageFormat::Unknown;
    }
}

int pixelsOfEmu(std::int64_t emu) {
    double px = std::round(double(emu) / kEmuPerPixel);
    return px >= 1 && px <= double(1 << 20) ? int(px) : 0;
}

// A blip type no picture format answers to: the format comes from the bytes alone.
constexpr std::uint16_t kUnknownBlip = 0xF018;

// 8-bit text of a BIFF5 workbook as UTF-8: Windows-1252 (and so Latin-1), the usual code page;
// bytes above ASCII in any other code page become '?'.
std::string codePageText(const std::uint8_t* text, std::size_t size, std::uint16_t codePage) {
    static constexpr std::uint16_t kWindows1252[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    bool western = codePage == 1252 || codePage == 0 || codePage == 0x8001;
    std::vector<std::uint8_t> utf16;
    for (std::size_t i = 0; i < size; ++i) {
        std::uint16_t c = text[i];
        if (c >= 0x80 && !western) {
            c = '?';
        } else if (c >= 0x80 && c < 0xA0) {
            c = kWindows1252[c - 0x80];
        }
        utf16.push_back(std::uint8_t(c));
        utf16.push_back(std::uint8_t(c >> 8));
    }
    return biff::unicodeChars(utf16.data(), utf16.size(), 0, size, true);
}

Problem recordCutShort(const std::string& place, const Record& r) {
    return damaged(place + ", record " + std::to_string(r.number),
                   "its length runs past the end of the stream");
}

}  // namespace

Result<std::unique_ptr<Workbook>> XlsWorkbook::open(std::unique_ptr<ByteSource> file,
                                                    CompoundFile compound,
                                                    const OpenOptions& options) {
    auto index = compound.rootStream("Workbook");
    if (!index) {
        index = compound.rootStream("Book");
    }
    if (!index) {
        return Problem{ProblemKind::NotAWorkbook, "", "it is a compound file without a workbook"};
    }
    auto stream = compound.openStream(*index);
    if (!stream) {
        return stream.problem();
    }
    std::unique_ptr<XlsWorkbook> workbook(new XlsWorkbook(std::move(file), std::move(compound)));
    workbook->m_sniff = options.sniff;
    workbook->m_streamName = workbook->m_compound->entries()[*index].name;
    workbook->m_stream = std::move(stream.value().source);
    if (stream.value().truncated) {
        workbook->noteProblem(damaged(
            "compound file",
            "the stream " + workbook->m_streamName + " is shorter than its directory entry says"));
    }
    if (auto problem = workbook->load()) {
        return *problem;
    }
    return std::unique_ptr<Workbook>(std::move(workbook));
}

Result<std::unique_ptr<Workbook>> XlsWorkbook::openStream(std::unique_ptr<ByteSource> stream,
                                                          std::string name,
                                                          const OpenOptions& options) {
    std::unique_ptr<XlsWorkbook> workbook(new XlsWorkbook(nullptr, std::nullopt));
    workbook->m_sniff = options.sniff;
    workbook->m_streamName = std::move(name);
    workbook->m_stream = std::move(stream);
    if (auto problem = workbook->load()) {
        return *problem;
    }
    return std::unique_ptr<Workbook>(std::move(workbook));
}

std::optional<Problem> XlsWorkbook::load() {
    m_group = std::make_unique<biff::PieceSource>(*m_stream, nullptr);

    std::vector<SheetEntry> sheets;
    if (auto problem = readGlobals(sheets)) {
        return problem;
    }
    m_group->setDecryptor(m_decryptor.get());
    if (m_group->size() > 0) {
        m_blips = officeart::readBlipStore(*m_group);
        if (!m_blips.damage.empty()) {
            noteProblem(damaged("drawing group", m_blips.damage));
        }
    }
    m_sniffed.resize(m_blips.entries.size());

    bool budgetReported = false;
    // Worksheets normally walk disjoint parts of the stream; sheet entries that point into one
    // another's records must not make the walks add up to far more than the stream holds.
    m_recordBudget = m_stream->size() / 4 + kSheetRecordSlack;
    for (const SheetEntry& entry : sheets) {
        if (entry.kind != 0) {
            continue;  // chart and macro sheets, modules
        }
        if (m_worksheets.size() >= kMaxWorksheets) {
            return tooLarge(streamPlace(),
                            "more than " + std::to_string(kMaxWorksheets) + " worksheets");
        }
        Worksheet sheet;
        sheet.name = entry.name;
        std::vector<Image> images;
        if (m_recordBudget > 0 && loadWorksheet(entry, sheet, images) == SheetKind::NotAWorksheet) {
            continue;
        }
        if (m_recordBudget == 0 && !budgetReported) {
            // The walks ran out here: this worksheet and those after it keep what was read.
            noteProblem(tooLarge(streamPlace(),
                                 "the sheets' records overlap; pictures "
                                 "of worksheet '" +
                                     entry.name + "' and those after it are left out"));
            budgetReported = true;
        }
        m_pictureCount += sheet.pictures.size();
        if (m_pictureCount > kMaxPictures) {
            return tooLarge(streamPlace(), "more than " + std::to_string(kMaxPictures) +
                                               " pictures in the workbook");
        }
        m_worksheets.push_back(std::move(sheet));
        m_images.push_back(std::move(images));
    }
    return std::nullopt;
}

std::optional<Problem> XlsWorkbook::readGlobals(std::vector<SheetEntry>& sheets) {
    RecordReader reader(*m_stream, 0);
    Record r;
    std::vector<std::uint8_t> data;
    if (!reader.next(r)) {
        return damaged(streamPlace(), "the stream is empty or cut short");
    }
    if (r.type == 0x0009 || r.type == 0x0209 || r.type == 0x0409) {
        return Problem{ProblemKind::Unsupported, "", "an older workbook format, BIFF2 to BIFF4"};
    }
    if (r.type != biff::kBof || !reader.data(r, data) || data.size() < 4) {
        return damaged(streamPlace(), "the stream does not start with a BOF record");
    }
    m_biff5 = biff::le16(data.data()) == biff::kBiff5;
    if (biff::le16(data.data() + 2) != biff::kGlobals) {
        return damaged(streamPlace(), "the stream does not start with the workbook globals");
    }

    bool inGroup = false;
    while (reader.next(r)) {
        if (r.type == biff::kEof || r.type == biff::kBof) {
            break;  // a BOF here means the globals lack their EOF
        }
        bool groupData = r.type == biff::kMsoDrawingGroup || (inGroup && r.type == biff::kContinue);
        if (groupData) {
            // Several drawing-group records and their CONTINUEs make one run of data.
            if (m_group->pieceCount() >= kMaxDrawingGroupRecords) {
                return tooLarge(streamPlace(), "more than " +
                                                   std::to_string(kMaxDrawingGroupRecords) +
                                                   " drawing group records");
            }
            if (m_group->pieceCount() == 0) {
                if (auto after = groupRunAsWritten(r)) {
                    reader.skipTo(*after);
                    inGroup = false;
                    continue;
                }
            }
            m_group->append(r.dataOffset, r.size);
        } else if (r.type == biff::kFilePass) {
            if (!reader.data(r, data)) {
                return damaged(streamPlace(), "the encryption record cannot be read");
            }
            if (auto problem = startDecryption(data)) {
                return problem;
            }
            reader.setDecryptor(m_decryptor.get());
        } else if (r.type == biff::kCodePage) {
            if (reader.data(r, data) && data.size() >= 2) {
                m_codePage = biff::le16(data.data());
            }
        } else if (r.type == biff::kBoundSheet) {
            if (!reader.data(r, data) || data.size() < (m_biff5 ? 7u : 8u)) {
                noteProblem(damaged(streamPlace() + ", record " + std::to_string(r.number),
                                    "a sheet entry is cut short"));
                continue;
            }
            SheetEntry entry;
            entry.offset = biff::le32(data.data());
            entry.kind = data[5];
            // BIFF5 names are 8-bit text in the workbook's code page, with no flags byte.
            entry.name =
                m_biff5 ? codePageText(data.data() + 7,
                                       std::min<std::size_t>(data[6], data.size() - 7), m_codePage)
                        : biff::unicodeChars(data.data(), data.size(), 8, data[6], data[7] & 1);
            sheets.push_back(std::move(entry));
            if (sheets.size() > kMaxWorksheets) {
                return tooLarge(streamPlace(),
                                "more than " + std::to_string(kMaxWorksheets) + " sheets");
            }
        }
        inGroup = groupData;
    }
    if (auto cut = reader.cutShort()) {
        noteProblem(recordCutShort(streamPlace(), *cut));
    }
    return std::nullopt;
}

std::optional<std::uint64_t> XlsWorkbook::groupRunAsWritten(const biff::Record& first) {
    // Writers cut the drawing group into full CONTINUEs of kMaxRecordData bytes after the
    // first record; its container's length says how many there are. Three headers confirm
    // that layout (the first CONTINUE, the last, and the record after the run), and records
    // of at most that size cannot sum up to it any other way; the thousands of headers in
    // between then need not be read one by one. Any other layout is walked record by record.
    constexpr std::uint64_t kFull = 8224;
    std::uint8_t h[8];
    if (first.size < 8 || !m_stream->read(first.dataOffset, h, 8)) {
        return std::nullopt;
    }
    if (m_decryptor) {
        m_decryptor->decrypt(first.dataOffset, h, 8);
    }
    std::uint64_t total = std::uint64_t(biff::le32(h + 4)) + 8;
    if (biff::le16(h + 2) != 0xF000 || first.size != kFull || total <= first.size) {
        return std::nullopt;
    }
    std::uint64_t rest = total - first.size;
    std::uint64_t count = (rest + kFull - 1) / kFull;
    std::uint64_t lastSize = rest - (count - 1) * kFull;
    std::uint64_t start = first.dataOffset + first.size;
    std::uint64_t last = start + (count - 1) * (kFull + 4);
    std::uint64_t end = last + 4 + lastSize;
    if (end > m_stream->size() || count > kMaxDrawingGroupRecords) {
        return std::nullopt;
    }
    auto header = [&](std::uint64_t at, std::uint64_t size) {
        std::uint8_t r[4];
        if (!m_stream->read(at, r, 4)) {
            return false;
        }
        std::uint16_t type = biff::le16(r);
        return (type == biff::kContinue || type == biff::kMsoDrawingGroup) &&
               (size == 0 || biff::le16(r + 2) == size);
    };
    if (!header(start, count == 1 ? lastSize : kFull) || !header(last, lastSize) ||
        (end + 4 <= m_stream->size() && header(end, 0))) {
        return std::nullopt;
    }
    m_group->append(first.dataOffset, first.size);
    for (std::uint64_t k = 0; k < count; ++k) {
        m_group->append(start + k * (kFull + 4) + 4, k + 1 < count ? kFull : lastSize);
    }
    return end;
}

std::optional<Problem> XlsWorkbook::startDecryption(const std::vector<std::uint8_t>& filePass) {
    // A workbook saved with the default password opens without asking, as the application
    // opens it; any other password makes it a protected workbook.
    m_decryptor = xlsDecryptor(filePass, kDefaultXlsPassword);
    if (!m_decryptor) {
        return Problem{ProblemKind::Encrypted, "", ""};
    }
    return std::nullopt;
}

XlsWorkbook::SheetKind XlsWorkbook::loadWorksheet(const SheetEntry& entry, Worksheet& sheet,
                                                  std::vector<Image>& images) {
    const std::string place = "worksheet '" + entry.name + "'";
    RecordReader reader(*m_stream, entry.offset, m_decryptor.get());
    reader.setBudget(&m_recordBudget);
    Record r;
    std::vector<std::uint8_t> data;
    if (!reader.next(r) || r.type != biff::kBof || !reader.data(r, data) || data.size() < 4) {
        noteProblem(damaged(place, "its records are not where the sheet list says"));
        return SheetKind::Worksheet;
    }
    if (biff::le16(data.data() + 2) != biff::kWorksheet) {
        return SheetKind::NotAWorksheet;
    }
    if (m_biff5) {
        return loadBiff5Worksheet(place, reader, sheet, images);
    }

    // Drawing data comes in MsoDrawing records and in CONTINUEs after them, after Obj and TxO
    // records and after an embedded chart's substream; CONTINUEs that carry a TxO's text and
    // formatting runs are not drawing data.
    enum class Previous { Other, Drawing, Object, Text, ChartEnd } previous = Previous::Other;
    std::vector<std::uint8_t> drawing;
    std::vector<biff::ObjInfo> objects;
    std::uint64_t textChars = 0, textRuns = 0;
    bool dialog = false;
    bool tooMuch = false;
    int depth = 0;
    auto appendDrawing = [&](const Record& rec) {
        if (drawing.size() + rec.size > kMaxSheetDrawingBytes) {
            tooMuch = true;
            return;
        }
        std::size_t old = drawing.size();
        drawing.resize(old + rec.size);
        if (reader.data(rec, data)) {
            std::copy(data.begin(), data.end(), drawing.begin() + long(old));
        }
        previous = Previous::Drawing;
    };
    while (!tooMuch && reader.next(r)) {
        if (depth > 0) {
            // An embedded chart's own substream, with its own drawing: skipped whole.
            if (r.type == biff::kBof) {
                ++depth;
            } else if (r.type == biff::kEof && --depth == 0) {
                previous = Previous::ChartEnd;
            }
            continue;
        }
        if (r.type == biff::kEof) {
            break;
        }
        switch (r.type) {
            case biff::kBof:
                depth = 1;
                break;
            case biff::kWsBool:
                if (reader.data(r, data) && !data.empty() && (data[0] & kDialogFlag) != 0) {
                    dialog = true;
                }
                previous = Previous::Other;
                break;
            case biff::kMsoDrawing:
                appendDrawing(r);
                break;
            case biff::kContinue:
                if (textChars > 0 || textRuns > 0) {
                    if (!reader.data(r, data)) {
                        break;
                    }
                    if (textChars > 0) {
                        // Each text CONTINUE starts with a flag: bit 0 set for 2-byte characters.
                        std::uint64_t chars =
                            data.empty() ? 0 : (data.size() - 1) / ((data[0] & 1) ? 2 : 1);
                        textChars -= std::min(textChars, std::max<std::uint64_t>(chars, 1));
                    } else {
                        textRuns -= std::min<std::uint64_t>(textRuns, data.size());
                    }
                } else if (previous != Previous::Other) {
                    appendDrawing(r);
                }
                break;
            case biff::kObj:
            case biff::kTxo:
                if (objects.size() >= kMaxDrawingRecords) {
                    tooMuch = true;
                    break;
                }
                reader.data(r, data);
                if (r.type == biff::kObj) {
                    objects.push_back(biff::parseObj(data));
                    previous = Previous::Object;
                } else {
                    biff::ObjInfo text;
                    text.textbox = true;
                    objects.push_back(text);
                    textChars = data.size() >= 14 ? biff::le16(data.data() + 10) : 0;
                    textRuns = textChars > 0 ? biff::le16(data.data() + 12) : 0;
                    previous = Previous::Text;
                }
                break;
            default:
                previous = Previous::Other;
        }
    }
    if (dialog) {
        return SheetKind::NotAWorksheet;
    }
    if (auto cut = reader.cutShort()) {
        noteProblem(recordCutShort(place, *cut));
    }
    if (tooMuch) {
        noteProblem(tooLarge(place + " drawing", "the drawing is larger than " +
                                                     std::to_string(kMaxSheetDrawingBytes >> 20) +
                                                     " MiB or has too many objects; its "
                                                     "pictures are left out"));
        return SheetKind::Worksheet;
    }
    if (drawing.empty()) {
        return SheetKind::Worksheet;
    }
    officeart::Drawing shapes = officeart::readDrawing(drawing.data(), drawing.size());
    if (!shapes.damage.empty()) {
        noteProblem(damaged(place + " drawing", shapes.damage));
    }
    addPictures(place, shapes, objects, sheet, images);
    return SheetKind::Worksheet;
}

XlsWorkbook::SheetKind XlsWorkbook::loadBiff5Worksheet(const std::string& place,
                                                       biff::RecordReader& reader, Worksheet& sheet,
                                                       std::vector<Image>& images) {
    // BIFF5 has no drawing layer: a picture is an Obj record of type 8 in z-order, its image in
    // the ImData record right after it and the CONTINUEs after that. Those bytes join the
    // workbook's run of picture data, each picture an entry of its own.
    Record r;
    std::vector<std::uint8_t> data;
    int depth = 0;
    bool dialog = false;
    bool waiting = false;                // a picture Obj whose ImData has not come yet
    std::vector<std::uint16_t> formats;  // each picture's clipboard format
    std::uint64_t missing = 0;           // image bytes still to come in CONTINUEs
    auto finish = [&] {
        if (waiting) {
            images.back().problem = damaged(place, "a picture has no image data");
        } else if (missing > 0) {
            images.back().blip.reset();
            images.back().problem = damaged(place, "a picture's image data is cut short");
        }
        waiting = false;
        missing = 0;
    };
    while (reader.next(r)) {
        if (depth > 0) {
            depth += r.type == biff::kBof ? 1 : r.type == biff::kEof ? -1 : 0;
            continue;
        }
        if (r.type == biff::kContinue && missing > 0) {
            std::uint64_t take = std::min<std::uint64_t>(missing, r.size);
            m_group->append(r.dataOffset, take);
            m_blips.entries.back().size += take;
            missing -= take;
            continue;
        }
        if (r.type == biff::kEof) {
            break;
        }
        if (m_group->pieceCount() >= kMaxDrawingGroupRecords) {
            noteProblem(tooLarge(place, "too many picture records"));
            break;
        }
        if (r.type == biff::kImData && waiting && reader.data(r, data) && data.size() >= 8) {
            std::uint16_t format = biff::le16(data.data());
            std::uint64_t size = biff::le32(data.data() + 4);
            officeart::Blip blip;
            blip.type = format == kClipboardBitmap     ? officeart::kBlipDib
                        : format == kClipboardMetafile ? officeart::kBlipWmf
                                                       : kUnknownBlip;
            formats.back() = format;
            blip.offset = m_group->size();
            blip.size = std::min<std::uint64_t>(size, data.size() - 8);
            m_group->append(r.dataOffset + 8, blip.size);
            missing = size - blip.size;
            images.back().blip = m_blips.entries.size();
            images.back().problem.reset();
            m_blips.entries.push_back(blip);
            waiting = false;
            continue;
        }
        finish();
        if (r.type == biff::kBof) {
            depth = 1;
        } else if (r.type == biff::kWsBool) {
            dialog = dialog || (reader.data(r, data) && !data.empty() && (data[0] & kDialogFlag));
        } else if (r.type == biff::kObj && reader.data(r, data) && data.size() >= 18 &&
                   biff::le16(data.data() + 4) == kPictureObject) {
            if (sheet.pictures.size() >= kMaxShapesPerSheet) {
                noteProblem(tooLarge(place, "too many pictures"));
                break;
            }
            PictureInfo info;
            info.cell = cellName(biff::le16(data.data() + 10), biff::le16(data.data() + 14));
            sheet.pictures.push_back(std::move(info));
            images.push_back({});
            formats.push_back(0);
            waiting = true;
        }
    }
    finish();
    if (dialog) {
        return SheetKind::NotAWorksheet;
    }
    if (auto cut = reader.cutShort()) {
        noteProblem(recordCutShort(place, *cut));
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        std::optional<Problem> problem;
        if (!images[i].blip || formats[i] == kClipboardBitmap) {
            continue;
        }
        if (formats[i] == kClipboardMetafile) {
            problem = takeMetafilePict(place, *images[i].blip);
        } else {
            // A picture in any other form (an embedded object's own data) is not guessed at.
            problem = Problem{ProblemKind::Unsupported, place,
                              "a picture stored in clipboard format " + std::to_string(formats[i])};
        }
        if (problem) {
            images[i].blip.reset();
            images[i].problem = std::move(problem);
        }
    }
    m_sniffed.resize(m_blips.entries.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (images[i].blip) {
            const Sniffed& s = sniff(*images[i].blip);
            sheet.pictures[i].format = s.format;
            sheet.pictures[i].width = s.width;
            sheet.pictures[i].height = s.height;
            sheet.pictures[i].byteCount =
                m_blips.entries[*images[i].blip].size + headerOf(*images[i].blip).size();
            sheet.pictures[i].imageId = *images[i].blip;
        }
    }
    return SheetKind::Worksheet;
}

void XlsWorkbook::addPictures(const std::string& place, const officeart::Drawing& drawing,
                              const std::vector<biff::ObjInfo>& objects, Worksheet& sheet,
                              std::vector<Image>& images) {
    // The i-th ClientData or ClientTextbox of the drawing goes with the i-th Obj or TxO record.
    // When the two lists disagree the pairing cannot be trusted, and a picture frame showing a
    // blip is taken for a picture instead.
    bool paired = true;
    for (std::size_t i = 0; i < std::min(drawing.clientTextbox.size(), objects.size()); ++i) {
        paired = paired && drawing.clientTextbox[i] == objects[i].textbox;
    }
    for (const officeart::Shape& shape : drawing.shapes) {
        if (shape.group || shape.client < 0) {
            continue;
        }
        if (std::size_t(shape.client) >= objects.size()) {
            paired = false;
        }
    }
    if (!paired) {
        noteProblem(damaged(place + " drawing", "its shapes and object records do not pair up"));
    }

    for (const officeart::Shape& shape : drawing.shapes) {
        if (shape.group || shape.client < 0) {
            continue;  // pictures inside groups are reached through the group only
        }
        bool picture = false;
        if (paired) {
            const biff::ObjInfo& object = objects[std::size_t(shape.client)];
            // OLE objects and controls are pictures at the record level; only their
            // FtPictFmla tells them apart. A camera picture has one and is a picture.
            picture =
                object.objectType == kPictureObject && (!object.pictureFormula || object.camera);
        } else {
            picture = shape.shapeType == kPictureFrame && shape.pib > 0;
        }
        if (!picture) {
            continue;
        }
        PictureInfo info;
        Image image;
        info.name = shape.name;
        info.description = shape.description;
        if (shape.anchored) {
            info.cell = cellName(shape.column, shape.row);
        }
        std::string label = shape.name.empty() ? "a picture" : "picture '" + shape.name + "'";
        if (shape.pib == 0) {
            info.linked = true;
            info.link = shape.linkName;
            image.problem = Problem{ProblemKind::LinkedImage, place, info.link};
        } else if (shape.pib > m_blips.entries.size() || m_blips.entries[shape.pib - 1].type == 0) {
            image.problem = damaged(place, label + " shows blip " + std::to_string(shape.pib) +
                                               ", which the blip store does not hold");
        } else {
            image.blip = shape.pib - 1;
            const officeart::Blip& blip = m_blips.entries[*image.blip];
            const Sniffed& s = sniff(*image.blip);
            info.format = s.format;
            info.width = s.width;
            info.height = s.height;
            info.imageId = *image.blip;
            if (!blip.compressed) {
                info.byteCount = blip.size - s.skip;
            }
        }
        sheet.pictures.push_back(std::move(info));
        images.push_back(std::move(image));
    }
}

std::optional<Problem> XlsWorkbook::takeMetafilePict(const std::string& place, std::size_t index) {
    officeart::Blip& blip = m_blips.entries[index];
    std::uint8_t head[kMetafilePictBytes + 18] = {};
    const std::size_t n = std::size_t(std::min<std::uint64_t>(blip.size, sizeof head));
    if (!m_group->read(blip.offset, head, n)) {
        return damaged(place, "a picture's image data cannot be read");
    }
    blip.metafile = true;
    if (n >= kMetafilePictBytes &&
        startsWithWmfHeader(head + kMetafilePictBytes, n - kMetafilePictBytes)) {
        // The metafile itself states no size; its METAFILEPICT does, and becomes a placeable
        // header so that the picture is drawn at that size.
        blip.offset += kMetafilePictBytes;
        blip.size -= kMetafilePictBytes;
        if (auto size = metafilePictSize(*readMetafilePict(head, n))) {
            m_headers[index] = placeableWmfHeader(*size);
            blip.emuWidth = std::int64_t(size->width) * kEmuPerInch / size->units;
            blip.emuHeight = std::int64_t(size->height) * kEmuPerInch / size->units;
        }
        return std::nullopt;
    }
    if (startsWithWmfHeader(head, n)) {
        return std::nullopt;  // a metafile kept without its METAFILEPICT
    }
    return Problem{ProblemKind::Unsupported, place,
                   "a metafile picture that is not a Windows metafile"};
}

const std::vector<std::uint8_t>& XlsWorkbook::headerOf(std::size_t blip) const {
    static const std::vector<std::uint8_t> kNone;
    auto it = m_headers.find(blip);
    return it == m_headers.end() ? kNone : it->second;
}

std::vector<std::uint8_t> XlsWorkbook::metafileHead(const officeart::Blip& blip) {
    // The sniffer sizes a metafile from its first kMetafileSizeScanBytes, as it does for the
    // whole bytes handed on, so it must see as many here; deflate adds a few bytes at most.
    constexpr std::uint64_t kStoredHead = kMetafileSizeScanBytes + 64;
    std::vector<std::uint8_t> stored(std::size_t(std::min<std::uint64_t>(blip.size, kStoredHead)));
    if (!m_group->read(blip.offset, stored.data(), stored.size())) {
        return {};
    }
    if (!blip.compressed) {
        stored.resize(std::min(stored.size(), kMetafileSizeScanBytes));
        return stored;
    }
    std::vector<std::uint8_t> head;
    inflateInto(stored, kMetafileSizeScanBytes, head, kMetafileSizeScanBytes);
    return head;
}

const XlsWorkbook::Sniffed& XlsWorkbook::sniff(std::size_t index) {
    if (m_sniffed[index]) {
        return *m_sniffed[index];
    }
    const officeart::Blip& blip = m_blips.entries[index];
    Sniffed s;
    s.format = formatOfBlip(blip.type);
    if (blip.metafile) {
        std::vector<std::uint8_t> head = metafileHead(blip);
        const std::vector<std::uint8_t>& header = headerOf(index);
        head.insert(head.begin(), header.begin(), header.end());
        head.resize(std::min(head.size(), kMetafileSizeScanBytes));
        ImageInfo info = m_sniff(head.data(), head.size());
        if (info.format != ImageFormat::Unknown) {
            s.format = info.format;
            s.width = info.width;
            s.height = info.height;
        }
        // A WMF kept without its placeable header states no size of its own; the blip's is
        // the picture's, as the spreadsheet application shows it.
        constexpr std::uint8_t kPlaceableKey[] = {0xD7, 0xCD, 0xC6, 0x9A};
        const bool placeable = head.size() >= 4 && std::equal(head.begin(), head.begin() + 4,
                                                              std::begin(kPlaceableKey));
        const std::int64_t w = pixelsOfEmu(blip.emuWidth), h = pixelsOfEmu(blip.emuHeight);
        if (s.format == ImageFormat::Wmf && !placeable && w > 0 && h > 0 && w <= kMaxPictureSide &&
            h <= kMaxPictureSide && w * h <= kMaxPicturePixels) {
            s.width = int(w);
            s.height = int(h);
        }
        if (s.width == 0 || s.height == 0) {
            s.width = pixelsOfEmu(blip.emuWidth);
            s.height = pixelsOfEmu(blip.emuHeight);
            if (s.width == 0 || s.height == 0) {
                s.width = s.height = 0;
            }
        }
        return *(m_sniffed[index] = s);
    }

    auto readHead = [&](std::uint64_t limit) {
        std::vector<std::uint8_t> head(std::size_t(std::min<std::uint64_t>(blip.size, limit)));
        if (!m_group->read(blip.offset, head.data(), head.size())) {
            head.clear();
        }
        return head;
    };
    std::vector<std::uint8_t> head = readHead(kSniffBytes);
    // Some Mac writers put 16 bytes before a PNG's signature.
    if (head.size() >= 24 && std::memcmp(head.data(), kPngSignature, 8) != 0 &&
        std::memcmp(head.data() + 16, kPngSignature, 8) == 0) {
        s.skip = 16;
    }
    ImageInfo info = m_sniff(head.data() + s.skip, head.size() - s.skip);
    if (info.format == ImageFormat::Jpeg && info.width == 0 && blip.size > head.size()) {
        head = readHead(kJpegSniffBytes);
        info = m_sniff(head.data(), head.size());
    }
    if (info.format != ImageFormat::Unknown) {
        s.format = info.format;
        s.width = info.width;
        s.height = info.height;
    } else if (s.format == ImageFormat::Dib) {
        if (auto dib = readBitmapInfo(head.data(), head.size())) {
            s.width = dib->width;
            s.height = dib->height;
        }
    }
    return *(m_sniffed[index] = s);
}

std::optional<Problem> XlsWorkbook::readPictureBytes(std::size_t sheet, std::size_t picture,
                                                     ByteSink& sink) {
    if (sheet >= m_images.size() || picture >= m_images[sheet].size()) {
        return Problem{ProblemKind::Damaged, "", "no such picture"};
    }
    const Image& image = m_images[sheet][picture];
    if (image.problem) {
        return image.problem;
    }
    const officeart::Blip& blip = m_blips.entries[*image.blip];
    const std::string place = "blip " + std::to_string(*image.blip + 1);
    const Sniffed& s = sniff(*image.blip);
    const std::vector<std::uint8_t>& header = headerOf(*image.blip);
    std::uint64_t size = blip.size - s.skip;
    if (size + header.size() > kMaxBlipBytes) {
        return tooLarge(place,
                        "a picture of more than " + std::to_string(kMaxBlipBytes >> 20) + " MiB");
    }
    // Every copy counts towards the workbook's total, pictures sharing a blip each once.
    if (!blip.compressed) {
        if (auto problem = chargeCopy(size + header.size(), place)) {
            return problem;
        }
        std::uint8_t* to = sink.allocate(std::size_t(size + header.size()));
        to = std::copy(header.begin(), header.end(), to);
        if (!m_group->read(blip.offset + s.skip, to, std::size_t(size))) {
            return damaged(place, "the picture's data cannot be read");
        }
        return std::nullopt;
    }
    // Pictures sharing a compressed metafile mostly follow one another: the last one inflated
    // is kept, so each is inflated once, not once per picture.
    if (!m_inflated.bytes || m_inflated.blip != *image.blip) {
        m_inflated = {};
        std::vector<std::uint8_t> stored(static_cast<std::size_t>(size));
        if (!m_group->read(blip.offset, stored.data(), stored.size())) {
            return damaged(place, "the picture's data cannot be read");
        }
        std::vector<std::uint8_t> inflated;
        switch (inflateInto(stored, kMaxMetafileBytes, inflated)) {
            case Inflated::Whole:
                break;
            case Inflated::TooLarge:
                return tooLarge(place, "a metafile inflating to more than " +
                                           std::to_string(kMaxMetafileBytes >> 20) + " MiB");
            case Inflated::Damaged:
                return damaged(place, "the compressed metafile is damaged");
        }
        m_inflated.blip = *image.blip;
        m_inflated.bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(inflated));
    }
    const auto bytes = m_inflated.bytes;
    if (bytes->size() > kMaxSharedImageCacheBytes) {
        m_inflated = {};
    }
    if (auto problem = chargeCopy(bytes->size(), place)) {
        return problem;
    }
    if (!sink.adopt(bytes)) {
        std::uint8_t* to = sink.allocate(bytes->size());
        std::copy(bytes->begin(), bytes->end(), to);
    }
    return std::nullopt;
}

}  // namespace workbook
