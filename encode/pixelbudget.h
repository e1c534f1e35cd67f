#pragma once

#include <QString>
#include <cstdint>

namespace encode {

// Pixels the pictures of one workbook may be turned into, in all, on top of what their stored
// bytes allow: a file of a few kilobytes whose thousands of pictures each state a picture of
// 100 megapixels would otherwise cost hours of drawing and terabytes of files. Real workbooks
// stay far below: 2,000 megapixels are twenty pictures of the largest size, or 150 photos of
// 13 megapixels, and every byte a picture stores adds 64 pixels (a 6 MB photo brings 384
// megapixels, many times its own size).
constexpr std::int64_t kWorkbookPixelAllowance = 2'000'000'000;
constexpr std::int64_t kPixelsPerStoredByte = 64;

// What the pictures of one workbook have been turned into so far. Charged in the order of the
// pictures, so the same ones go past the limit whatever the number of threads.
class PixelBudget {
public:
    // Charges one picture of the given pixels, which stores storedBytes. False once the
    // workbook is past its limit: for this picture and every later one.
    bool charge(std::int64_t pixels, std::int64_t storedBytes);
    bool exceeded() const { return m_exceeded; }

    // Why a picture past the limit is not drawn.
    static QString limitText();

private:
    std::int64_t m_pixels = 0;
    std::int64_t m_allowed = kWorkbookPixelAllowance;
    bool m_exceeded = false;
};

}  // namespace encode
