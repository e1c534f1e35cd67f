#pragma once

// Enhanced and Windows metafiles built record by record for tests ([MS-EMF], [MS-WMF]).
#include <QByteArray>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

namespace metafiletest {

inline void put16(QByteArray& b, int v) {
    b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
}
inline void put32(QByteArray& b, std::uint32_t v) {
    put16(b, int(v & 0xFFFF));
    put16(b, int(v >> 16));
}
inline QByteArray dwords(std::initializer_list<std::int64_t> values) {
    QByteArray b;
    for (std::int64_t v : values) {
        put32(b, std::uint32_t(v));
    }
    return b;
}
inline QByteArray words(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values) {
        put16(b, v);
    }
    return b;
}
// A COLORREF: 0x00bbggrr.
constexpr std::uint32_t rgb(int r, int g, int b) {
    return std::uint32_t(r) | std::uint32_t(g) << 8 | std::uint32_t(b) << 16;
}
constexpr std::uint32_t kStock = 0x80000000u;

// An EMF recorded on a reference device, 96 dpi unless set otherwise.
struct Emf {
    QByteArray records;
    int count = 0;
    QSize devicePixels{960, 960}, deviceMillimetres{254, 254};

    Emf& rec(std::uint32_t type, QByteArray payload = {}) {
        while (payload.size() % 4 != 0) {
            payload.append('\0');
        }
        put32(records, type);
        put32(records, std::uint32_t(8 + payload.size()));
        records.append(payload);
        ++count;
        return *this;
    }
    Emf& rec(std::uint32_t type, std::initializer_list<std::int64_t> values) {
        return rec(type, dwords(values));
    }
    Emf& brush(std::uint32_t slot, std::uint32_t colour, int style = 0, int hatch = 0) {
        return rec(39, {slot, style, colour, hatch});
    }
    Emf& pen(std::uint32_t slot, int style, int width, std::uint32_t colour) {
        return rec(38, {slot, style, width, 0, colour});
    }
    Emf& select(std::uint32_t slot) { return rec(37, {slot}); }
    Emf& noPen() { return select(kStock | 8); }
    Emf& rectangle(int l, int t, int r, int b) { return rec(43, {l, t, r, b}); }
    Emf& moveTo(int x, int y) { return rec(27, {x, y}); }
    Emf& lineTo(int x, int y) { return rec(54, {x, y}); }

    // bounds inclusive, in device pixels; frame as x, y, width, height in 0.01 mm.
    QByteArray bytes(QRect bounds, QRect frame) const {
        const QByteArray eof = dwords({14, 20, 0, 16, 20});
        QByteArray b = dwords({1, 88, bounds.left(), bounds.top(), bounds.right(), bounds.bottom(),
                               frame.x(), frame.y(), frame.x() + frame.width(),
                               frame.y() + frame.height(), 0x464D4520, 0x10000});
        put32(b, std::uint32_t(88 + records.size() + eof.size()));
        put32(b, std::uint32_t(count + 2));
        b.append(words({16, 0}));
        b.append(dwords({0, 0, 0, devicePixels.width(), devicePixels.height(),
                         deviceMillimetres.width(), deviceMillimetres.height()}));
        return b + records + eof;
    }
    // A frame of w x h pixels at 96 dpi, with bounds to match, on this builder's device.
    QByteArray bytes(int w, int h) const {
        const double pxPerMmX = double(devicePixels.width()) / deviceMillimetres.width();
        const double pxPerMmY = double(devicePixels.height()) / deviceMillimetres.height();
        const int fw = int(w * 2540.0 / 96 + 0.5), fh = int(h * 2540.0 / 96 + 0.5);
        return bytes(QRect(0, 0, int(fw * pxPerMmX / 100), int(fh * pxPerMmY / 100)),
                     QRect(0, 0, fw, fh));
    }
};

// A WMF, with its placeable header when a box is given.
struct Wmf {
    QByteArray records;
    Wmf& rec(int function, const QByteArray& params) {
        put32(records, std::uint32_t(3 + params.size() / 2));
        put16(records, function);
        records.append(params);
        return *this;
    }
    Wmf& rec(int function, std::initializer_list<int> params) {
        return rec(function, words(params));
    }
    QByteArray bytes(std::optional<QRect> box = std::nullopt, int unitsPerInch = 1440) const {
        QByteArray b;
        if (box) {
            put32(b, 0x9AC6CDD7u);
            b.append(words({0, box->x(), box->y(), box->x() + box->width(),
                            box->y() + box->height(), unitsPerInch}));
            put32(b, 0);
            put16(b, 0);
        }
        const int size = 9 + int(records.size()) / 2 + 3;
        b.append(words({1, 9, 0x0300}));
        put32(b, std::uint32_t(size));
        put16(b, 4);
        put32(b, 64);
        put16(b, 0);
        return b + records + words({3, 0, 0});
    }
};

}  // namespace metafiletest
