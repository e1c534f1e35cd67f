#include "workbook/xls/officeart.h"

#include <algorithm>

#include "workbook/limits.h"
#include "workbook/xls/biffrecords.h"

namespace workbook::officeart {
namespace {

using biff::le16;
using biff::le32;

constexpr std::uint16_t kDggContainer = 0xF000;
constexpr std::uint16_t kBStoreContainer = 0xF001;
constexpr std::uint16_t kDgContainer = 0xF002;
constexpr std::uint16_t kSpgrContainer = 0xF003;
constexpr std::uint16_t kSpContainer = 0xF004;
constexpr std::uint16_t kSolverContainer = 0xF005;
constexpr std::uint16_t kFbse = 0xF007;
constexpr std::uint16_t kFsp = 0xF00A;
constexpr std::uint16_t kFopt = 0xF00B;
constexpr std::uint16_t kClientTextbox = 0xF00D;
constexpr std::uint16_t kClientAnchor = 0xF010;
constexpr std::uint16_t kClientData = 0xF011;
constexpr std::uint16_t kSecondaryFopt = 0xF121;
constexpr std::uint16_t kTertiaryFopt = 0xF122;

constexpr std::uint16_t kPib = 0x0104;
constexpr std::uint16_t kPibName = 0x0105;
constexpr std::uint16_t kShapeName = 0x0380;
constexpr std::uint16_t kShapeDescription = 0x0381;

struct Header {
    std::uint16_t version = 0;
    std::uint16_t instance = 0;
    std::uint16_t type = 0;
    std::uint64_t body = 0;  // where the body starts
    std::uint64_t end = 0;   // where the body ends, as the header says
    // Some writers give containers version 0; their type still says what they are, and the
    // spreadsheet application reads them by it.
    bool container() const {
        return version == 0xF || (type >= kDggContainer && type <= kSolverContainer);
    }
};

Header header(const std::uint8_t* p, std::uint64_t at) {
    Header h;
    std::uint16_t verInst = le16(p);
    h.version = verInst & 0xF;
    h.instance = verInst >> 4;
    h.type = le16(p + 2);
    h.body = at + 8;
    h.end = h.body + le32(p + 4);
    return h;
}

bool readHeader(ByteSource& source, std::uint64_t at, Header& h) {
    std::uint8_t p[8];
    if (at + 8 > source.size() || !source.read(at, p, 8)) {
        return false;
    }
    h = header(p, at);
    return true;
}

bool isBlip(std::uint16_t type) {
    return type >= 0xF018 && type <= 0xF117;
}

// Fills where a blip record's picture bytes lie; records of unknown types stay empty.
void readBlip(ByteSource& source, const Header& h, std::uint64_t end, Blip& blip) {
    // Instances with the low bit set carry a second 16-byte UID.
    std::uint64_t uids = 16 * (1 + (h.instance & 1));
    switch (h.type) {
        case kBlipEmf:
        case kBlipWmf:
        case kBlipPict: {
            // OfficeArtMetafileHeader ([MS-ODRAW] 2.2.31) after the UIDs.
            std::uint8_t m[34];
            if (h.body + uids + sizeof m > end || !source.read(h.body + uids, m, sizeof m)) {
                return;
            }
            blip.metafile = true;
            blip.offset = h.body + uids + sizeof m;
            blip.size = std::min<std::uint64_t>(le32(m + 28), end - blip.offset);
            blip.compressed = m[32] == 0x00;
            blip.emuWidth = std::int32_t(le32(m + 20));
            blip.emuHeight = std::int32_t(le32(m + 24));
            break;
        }
        case kBlipJpeg:
        case kBlipPng:
        case kBlipDib:
        case kBlipTiff:
        case kBlipJpegCmyk:
            // The UIDs, a one-byte tag, then the file's bytes to the end of the record.
            if (h.body + uids + 1 > end) {
                return;
            }
            blip.offset = h.body + uids + 1;
            blip.size = end - blip.offset;
            break;
        default:
            return;
    }
    blip.type = h.type;
}

std::string utf16String(const std::uint8_t* data, std::size_t size) {
    std::string text = biff::unicodeChars(data, size, 0, size / 2, true);
    // Names are stored with their terminator.
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

class DrawingReader {
public:
    DrawingReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    Drawing read() {
        if (m_size < 8) {
            m_drawing.damage = "the drawing is empty";
            return std::move(m_drawing);
        }
        Header top = header(m_data, 0);
        if (top.type != kDgContainer || !top.container()) {
            m_drawing.damage = "the drawing does not start with a drawing container";
            return std::move(m_drawing);
        }
        std::uint64_t end = top.end;
        if (end > m_size) {
            // Parse what is there; the shapes read whole are still good.
            m_drawing.damage = "the drawing is shorter than its header says";
            end = m_size;
        }
        bool patriarch = true;
        children(top.body, end, 1, [&](const Header& h) {
            if (h.type == kSpgrContainer && patriarch) {
                patriarch = false;
                group(h, 2, true);
            } else {
                other(h, 2);
            }
        });
        return std::move(m_drawing);
    }

private:
    void stop(std::string why) {
        if (m_drawing.damage.empty()) {
            m_drawing.damage = std::move(why);
        }
        m_stopped = true;
    }

    // Calls visit for each record between start and end; a record that runs past end stops
    // the whole reading.
    template <typename Visit>
    void children(std::uint64_t start, std::uint64_t end, int depth, Visit visit) {
        if (depth > kMaxOfficeArtDepth) {
            stop("shapes nested more than " + std::to_string(kMaxOfficeArtDepth) + " deep");
            return;
        }
        std::uint64_t at = start;
        while (!m_stopped && at + 8 <= end) {
            Header h = header(m_data + at, at);
            if (h.end > end) {
                stop("a record at byte " + std::to_string(at) + " runs past its container");
                return;
            }
            if (++m_records > kMaxDrawingRecords) {
                stop("more than " + std::to_string(kMaxDrawingRecords) + " drawing records");
                return;
            }
            visit(h);
            at = h.end;
        }
    }

    // A record whose shapes are not worksheet pictures: only its client records count.
    void other(const Header& h, int depth) {
        if (h.type == kClientData || h.type == kClientTextbox) {
            m_drawing.clientTextbox.push_back(h.type == kClientTextbox);
        } else if (h.container()) {
            children(h.body, h.end, depth + 1, [&](const Header& c) { other(c, depth + 1); });
        }
    }

    void group(const Header& h, int depth, bool patriarch) {
        bool first = true;
        children(h.body, h.end, depth, [&](const Header& c) {
            if (patriarch && !first && m_drawing.shapes.size() >= kMaxShapesPerSheet) {
                stop("more than " + std::to_string(kMaxShapesPerSheet) + " shapes");
            } else if (patriarch && !first && c.type == kSpContainer) {
                m_drawing.shapes.push_back(shape(c, depth + 1));
            } else if (patriarch && !first && c.type == kSpgrContainer) {
                Shape g;
                g.group = true;
                m_drawing.shapes.push_back(g);
                group(c, depth + 1, false);
            } else if (c.type == kSpgrContainer) {
                group(c, depth + 1, false);
            } else {
                other(c, depth + 1);
            }
            first = false;
        });
    }

    Shape shape(const Header& h, int depth) {
        Shape s;
        children(h.body, h.end, depth, [&](const Header& c) {
            const std::uint8_t* body = m_data + c.body;
            std::uint64_t length = c.end - c.body;
            switch (c.type) {
                case kFsp:
                    s.shapeType = c.instance;
                    break;
                case kFopt:
                case kSecondaryFopt:
                case kTertiaryFopt:
                    properties(body, length, c.instance, s);
                    break;
                case kClientAnchor:
                    // OfficeArtClientAnchorSheet: flags, col1, dx1, row1, ...
                    if (length >= 8) {
                        s.anchored = true;
                        s.column = le16(body + 2);
                        s.row = le16(body + 6);
                    }
                    break;
                case kClientData:
                    if (s.client < 0) {
                        s.client = int(m_drawing.clientTextbox.size());
                    }
                    other(c, depth);
                    break;
                default:
                    other(c, depth);
            }
        });
        return s;
    }

    static void properties(const std::uint8_t* body, std::uint64_t length, std::uint16_t count,
                           Shape& s) {
        // Fixed 6-byte entries, then the data of the complex ones in the same order.
        std::uint64_t n = std::min<std::uint64_t>(count, length / 6);
        std::uint64_t complexAt = n * 6;
        for (std::uint64_t i = 0; i < n; ++i) {
            std::uint16_t id = le16(body + 6 * i);
            std::uint32_t op = le32(body + 6 * i + 2);
            std::uint16_t pid = id & 0x3FFF;
            bool complex = (id & 0x8000) != 0;
            std::uint64_t dataAt = complexAt;
            if (complex) {
                complexAt += op;
            }
            bool inside = complex && complexAt <= length;
            switch (pid) {
                case kPib:
                    // A blip carried in the property itself is not how worksheets store them.
                    s.pib = complex ? 0 : op;
                    break;
                case kPibName:
                    if (inside)
                        s.linkName = utf16String(body + dataAt, op);
                    break;
                case kShapeName:
                    if (inside)
                        s.name = utf16String(body + dataAt, op);
                    break;
                case kShapeDescription:
                    if (inside)
                        s.description = utf16String(body + dataAt, op);
                    break;
                default:
                    break;
            }
        }
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_records = 0;
    bool m_stopped = false;
    Drawing m_drawing;
};

}  // namespace

BlipStore readBlipStore(ByteSource& group) {
    BlipStore store;
    Header top;
    if (!readHeader(group, 0, top) || top.type != kDggContainer) {
        store.damage = "the drawing group does not start with its container";
        return store;
    }
    std::uint64_t end = top.end;
    if (end > group.size()) {
        store.damage = "the drawing group is shorter than its header says";
        end = group.size();
    }
    Header h;
    for (std::uint64_t at = top.body; at + 8 <= end && readHeader(group, at, h); at = h.end) {
        if (h.type != kBStoreContainer) {
            continue;
        }
        std::uint64_t storeEnd = std::min(h.end, end);
        Header e;
        for (std::uint64_t p = h.body; p + 8 <= storeEnd && readHeader(group, p, e); p = e.end) {
            if (e.end > storeEnd) {
                store.damage = "a blip store entry runs past the store";
                break;
            }
            if (store.entries.size() >= kMaxBlipStoreEntries) {
                store.damage = "more than " + std::to_string(kMaxBlipStoreEntries) + " blips";
                break;
            }
            Blip blip;
            if (e.type == kFbse) {
                // OfficeArtFBSE: 36 fixed bytes, the name, then the embedded blip if any.
                std::uint8_t f[36];
                Header b;
                if (e.end - e.body >= sizeof f && group.read(e.body, f, sizeof f) &&
                    le32(f + 20) != 0) {
                    std::uint64_t blipAt = e.body + sizeof f + f[33];
                    if (blipAt + 8 <= e.end && readHeader(group, blipAt, b) && isBlip(b.type)) {
                        readBlip(group, b, std::min(b.end, e.end), blip);
                    }
                }
            } else if (isBlip(e.type)) {
                readBlip(group, e, e.end, blip);
            }
            store.entries.push_back(blip);
        }
        break;
    }
    return store;
}

Drawing readDrawing(const std::uint8_t* data, std::size_t size) {
    return DrawingReader(data, size).read();
}

}  // namespace workbook::officeart
