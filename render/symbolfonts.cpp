#include "render/symbolfonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QRawFont>
#include <array>
#include <mutex>

namespace render {

namespace {

enum class Symbols { Symbol, Wingdings, Wingdings2, Wingdings3, Webdings, MtExtra };

// Where Debian installs the fonts that hold the pictures of Symbol, Wingdings and Webdings.
constexpr const char* kFontFolder = "/usr/share/wine/fonts/";

struct Face {
    const char* name;
    Symbols symbols;
    const char* file;  // in kFontFolder; nullptr when no free font holds it
};
constexpr Face kFaces[] = {
    {"Symbol", Symbols::Symbol, "symbol.ttf"},
    {"Wingdings", Symbols::Wingdings, "wingding.ttf"},
    {"Wingdings 2", Symbols::Wingdings2, nullptr},
    {"Wingdings 3", Symbols::Wingdings3, nullptr},
    {"Webdings", Symbols::Webdings, "webdings.ttf"},
    {"MT Extra", Symbols::MtExtra, nullptr},
};

// Unicode characters that show the pictures of the symbol fonts, from 0x20 on; 0 for none.
// Symbol is the Adobe Symbol encoding, whole.
constexpr std::array<char16_t, 224> kSymbol = {
    0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B, 0x0028, 0x0029, 0x2217, 0x002B,
    0x002C, 0x2212, 0x002E, 0x002F, 0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F, 0x2245, 0x0391, 0x0392, 0x03A7,
    0x0394, 0x0395, 0x03A6, 0x0393, 0x0397, 0x0399, 0x03D1, 0x039A, 0x039B, 0x039C, 0x039D, 0x039F,
    0x03A0, 0x0398, 0x03A1, 0x03A3, 0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0x005B,
    0x2234, 0x005D, 0x22A5, 0x005F, 0x203E, 0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3,
    0x03B7, 0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF, 0x03C0, 0x03B8, 0x03C1, 0x03C3,
    0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6, 0x007B, 0x007C, 0x007D, 0x223C, 0x0000,
    // 0x80 to 0x9F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0xA0
    0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666, 0x2665, 0x2660, 0x2194,
    0x2190, 0x2191, 0x2192, 0x2193, 0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022,
    0x00F7, 0x2260, 0x2261, 0x2248, 0x2026, 0x23D0, 0x23AF, 0x21B5,
    // 0xC0
    0x2135, 0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205, 0x2229, 0x222A, 0x2283, 0x2287, 0x2284,
    0x2282, 0x2286, 0x2208, 0x2209, 0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A, 0x22C5,
    0x00AC, 0x2227, 0x2228, 0x21D4, 0x21D0, 0x21D1, 0x21D2, 0x21D3,
    // 0xE0
    0x25CA, 0x2329, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C, 0x239D, 0x23A1, 0x23A2, 0x23A3,
    0x23A7, 0x23A8, 0x23A9, 0x23AA, 0x0000, 0x232A, 0x222B, 0x2320, 0x23AE, 0x2321, 0x239E, 0x239F,
    0x23A0, 0x23A4, 0x23A5, 0x23A6, 0x23AB, 0x23AC, 0x23AD, 0x0000};

// The pictures of the other fonts most used in workbooks: bullets, boxes, ticks and arrows.
struct Picture {
    Symbols symbols;
    std::uint8_t code;
    char16_t unicode;
};
constexpr Picture kPictures[] = {
    {Symbols::Wingdings, 0x22, 0x2702},  {Symbols::Wingdings, 0x28, 0x260E},
    {Symbols::Wingdings, 0x4A, 0x263A},  {Symbols::Wingdings, 0x4C, 0x2639},
    {Symbols::Wingdings, 0x6C, 0x25CF},  {Symbols::Wingdings, 0x6E, 0x25A0},
    {Symbols::Wingdings, 0x6F, 0x25A1},  {Symbols::Wingdings, 0x71, 0x2751},
    {Symbols::Wingdings, 0x75, 0x25C6},  {Symbols::Wingdings, 0xA7, 0x25AA},
    {Symbols::Wingdings, 0xD8, 0x27A2},  {Symbols::Wingdings, 0xE8, 0x2794},
    {Symbols::Wingdings, 0xFB, 0x2717},  {Symbols::Wingdings, 0xFC, 0x2713},
    {Symbols::Wingdings, 0xFD, 0x2612},  {Symbols::Wingdings, 0xFE, 0x2611},
    {Symbols::Wingdings2, 0x4F, 0x2718}, {Symbols::Wingdings2, 0x50, 0x2714},
    {Symbols::Wingdings2, 0x52, 0x2611}, {Symbols::Wingdings2, 0x54, 0x2612},
    {Symbols::Wingdings2, 0xA3, 0x2610}, {Symbols::Wingdings3, 0x66, 0x2190},
    {Symbols::Wingdings3, 0x67, 0x2192}, {Symbols::Wingdings3, 0x68, 0x2191},
    {Symbols::Wingdings3, 0x69, 0x2193}, {Symbols::Wingdings3, 0x70, 0x25B2},
    {Symbols::Wingdings3, 0x71, 0x25BC}, {Symbols::Wingdings3, 0x74, 0x25C4},
    {Symbols::Wingdings3, 0x75, 0x25BA}, {Symbols::MtExtra, 0x6C, 0x2113},
};

char16_t unicodeOf(Symbols symbols, std::uint8_t code) {
    if (symbols == Symbols::Symbol) {
        return code >= 0x20 ? kSymbol[code - 0x20] : 0;
    }
    for (const Picture& p : kPictures) {
        if (p.symbols == symbols && p.code == code) {
            return p.unicode;
        }
    }
    return 0;
}

// The fonts that hold the pictures, loaded once for the whole program.
struct Loaded {
    QString family;
    QRawFont raw;
};
const Loaded* loadedFont(const Face& face) {
    static std::once_flag once;
    static std::array<Loaded, std::size(kFaces)> loaded;
    std::call_once(once, [] {
        for (std::size_t i = 0; i < std::size(kFaces); ++i) {
            if (kFaces[i].file == nullptr) {
                continue;
            }
            const QString path = QString::fromLatin1(kFontFolder) + kFaces[i].file;
            if (!QFile::exists(path)) {
                continue;
            }
            const QStringList families =
                QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(path));
            if (!families.isEmpty()) {
                loaded[i] = {families.first(), QRawFont(path, 16)};
            }
        }
    });
    const Loaded& l = loaded[std::size_t(&face - kFaces)];
    return l.family.isEmpty() ? nullptr : &l;
}

}  // namespace

bool symbolRun(const metafile::TextRun& run, SymbolRun& out) {
    const QString face = QString::fromStdString(run.face).trimmed();
    const Face* found = nullptr;
    for (const Face& f : kFaces) {
        if (face.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0) {
            found = &f;
        }
    }
    if (found == nullptr) {
        return false;
    }
    const Loaded* font = loadedFont(*found);
    out.family = font != nullptr ? font->family : QStringLiteral("OpenSymbol");
    out.text.clear();
    auto add = [&](std::uint32_t unit) {
        // GDI takes a code point of the symbol area or a byte alike.
        const std::uint8_t code = std::uint8_t(unit & 0xFF);
        const bool symbolic = unit < 0x100 || (unit >= 0xF000 && unit < 0xF100);
        if (!symbolic || code < 0x20) {
            out.text.append(QChar(u' '));
        } else if (font != nullptr && font->raw.supportsCharacter(QChar(code))) {
            out.text.append(QChar(code));
        } else if (const char16_t unicode = unicodeOf(found->symbols, code); unicode != 0) {
            out.text.append(QChar(unicode));
        } else {
            out.text.append(QChar(u' '));
        }
    };
    if (!run.wide.empty()) {
        for (char16_t unit : run.wide) {
            add(unit);
        }
    } else {
        for (char byte : run.narrow) {
            add(std::uint8_t(byte));
        }
    }
    return true;
}

}  // namespace render
