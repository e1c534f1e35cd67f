#include "encode/pixelbudget.h"

#include <QLocale>
#include <algorithm>
#include <limits>

namespace encode {

bool PixelBudget::charge(std::int64_t pixels, std::int64_t storedBytes) {
    if (m_exceeded) {
        return false;
    }
    // Sums stay far from overflow whatever a file states.
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max() / 4;
    const std::int64_t grant =
        std::clamp<std::int64_t>(storedBytes, 0, kMax / kPixelsPerStoredByte) *
        kPixelsPerStoredByte;
    m_allowed = std::min(kMax, m_allowed + grant);
    m_pixels = std::min(kMax, m_pixels + std::clamp<std::int64_t>(pixels, 0, kMax));
    m_exceeded = m_pixels > m_allowed;
    return !m_exceeded;
}

QString PixelBudget::limitText() {
    const QLocale english(QLocale::English);
    return QStringLiteral(
               "the workbook's pictures come to more pixels than its limit (%1 "
               "megapixels, and %2 more for each byte they store), so this picture "
               "and the later ones are not drawn")
        .arg(english.toString(qlonglong(kWorkbookPixelAllowance / 1'000'000)))
        .arg(kPixelsPerStoredByte);
}

}  // namespace encode
