#pragma once

#include <QRect>

namespace platform {

// Layouts are given in twips; the windows show them at 96 dpi, 15 twips to the pixel.
constexpr int kTwipsPerPixel = 15;

// Twips to whole pixels, rounding to the nearest and halves to even.
constexpr int twipsToPixels(int twips) {
    int whole = twips / kTwipsPerPixel;
    int rest = twips % kTwipsPerPixel;
    if (rest * 2 > kTwipsPerPixel || (rest * 2 == kTwipsPerPixel && (whole % 2) != 0)) {
        ++whole;
    }
    return whole;
}

constexpr QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

}  // namespace platform
