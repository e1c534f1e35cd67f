#include "encode/gdiplus.h"

#include <QString>
#include <cstring>
#include <string_view>

#include "encode/jpegencoder.h"
#include "encode/outputpixels.h"
#include "encode/wholefile.h"

namespace encode {

namespace {

constexpr std::uint32_t kDefaultQuality = 75;
constexpr std::uint32_t kMaxQuality = 100;

int hexDigit(WCHAR c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// Reads `count` hex digits at text[at]; false when one is not a digit.
bool readHex(std::u16string_view text, std::size_t at, int count, std::uint64_t* value) {
    *value = 0;
    for (int i = 0; i < count; ++i) {
        int digit = hexDigit(text[at + std::size_t(i)]);
        if (digit < 0) {
            return false;
        }
        *value = (*value << 4) | std::uint64_t(digit);
    }
    return true;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", braces required, hex digits in either case.
bool parseGuid(std::u16string_view text, GUID* guid) {
    if (text.size() != 38 || text[0] != u'{' || text[37] != u'}' || text[9] != u'-' ||
        text[14] != u'-' || text[19] != u'-' || text[24] != u'-') {
        return false;
    }
    std::uint64_t d1, d2, d3, d4a, d4b;
    if (!readHex(text, 1, 8, &d1) || !readHex(text, 10, 4, &d2) || !readHex(text, 15, 4, &d3) ||
        !readHex(text, 20, 4, &d4a) || !readHex(text, 25, 12, &d4b)) {
        return false;
    }
    guid->Data1 = std::uint32_t(d1);
    guid->Data2 = std::uint16_t(d2);
    guid->Data3 = std::uint16_t(d3);
    guid->Data4[0] = std::uint8_t(d4a >> 8);
    guid->Data4[1] = std::uint8_t(d4a);
    for (int i = 0; i < 6; ++i) {
        guid->Data4[2 + i] = std::uint8_t(d4b >> (8 * (5 - i)));
    }
    return true;
}

GUID knownGuid(const WCHAR* text) {
    GUID guid{};
    parseGuid(text, &guid);
    return guid;
}

// The quality the parameters ask for, or the status that rejects them.
GpStatus readQuality(const EncoderParameters* parameters, std::uint32_t* quality) {
    *quality = kDefaultQuality;
    if (!parameters) {
        return GpStatus::Ok;
    }
    static const GUID kQuality = knownGuid(kEncoderQualityGuidText);
    // The structure declares one parameter; a caller that sets a larger count owns the room.
    const EncoderParameter* list = parameters->Parameter;
    for (std::uint32_t i = 0; i < parameters->Count; ++i) {
        const EncoderParameter& p = list[i];
        if (!(p.Guid == kQuality) || p.Type != EncoderParameterValueTypeLong ||
            p.NumberOfValues != 1 || !p.Value) {
            return GpStatus::InvalidParameter;
        }
        std::uint32_t value;
        std::memcpy(&value, p.Value, sizeof value);
        if (value > kMaxQuality) {
            return GpStatus::InvalidParameter;
        }
        *quality = value;
    }
    return GpStatus::Ok;
}

}  // namespace

GpStatus TurboJpegGdiplus::GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                                          GdiplusStartupOutput* output) {
    if (!token || !input) {
        return GpStatus::InvalidParameter;
    }
    if (input->GdiplusVersion != 1) {
        return GpStatus::UnsupportedGdiplusVersion;
    }
    // Without a background thread the caller must take the notification hooks.
    if (input->SuppressBackgroundThread && !output) {
        return GpStatus::InvalidParameter;
    }
    if (output) {
        *output = GdiplusStartupOutput{};
    }
    ++m_startups;
    *token = m_nextToken++;
    return GpStatus::Ok;
}

GpStatus TurboJpegGdiplus::GdipCreateBitmapFromHBITMAP(HBITMAP hbm, HPALETTE, GpBitmap** bitmap) {
    if (!started()) {
        return GpStatus::GdiplusNotInitialized;
    }
    if (!hbm || !bitmap) {
        return GpStatus::InvalidParameter;
    }
    *bitmap = new (std::nothrow) GpBitmap(*hbm);
    return *bitmap ? GpStatus::Ok : GpStatus::OutOfMemory;
}

GpStatus TurboJpegGdiplus::GdipSaveImageToFile(GpImage* image, const WCHAR* filename,
                                               const CLSID* clsidEncoder,
                                               const EncoderParameters* encoderParams) {
    if (!started()) {
        return GpStatus::GdiplusNotInitialized;
    }
    auto* bitmap = dynamic_cast<GpBitmap*>(image);
    if (!bitmap || !filename || !*filename || !clsidEncoder) {
        return GpStatus::InvalidParameter;
    }
    static const CLSID kJpegEncoder = knownGuid(kJpegEncoderClsidText);
    if (!(*clsidEncoder == kJpegEncoder)) {
        return GpStatus::UnknownImageFormat;
    }
    std::uint32_t quality = 0;
    if (GpStatus status = readQuality(encoderParams, &quality); status != GpStatus::Ok) {
        return status;
    }

    std::optional<JpegBytes> jpeg = bitmap->pixels().encodeJpeg(int(quality));
    if (!jpeg) {
        return GpStatus::GenericError;
    }
    QString path = QString::fromUtf16(filename);
    QString reason = writeWholeFile(
        path,
        {QByteArrayView(reinterpret_cast<const char*>(jpeg->data()), qsizetype(jpeg->size()))});
    return reason.isEmpty() ? GpStatus::Ok : GpStatus::Win32Error;
}

GpStatus TurboJpegGdiplus::GdipDisposeImage(GpImage* image) {
    if (!image) {
        return GpStatus::InvalidParameter;
    }
    delete image;
    return GpStatus::Ok;
}

void TurboJpegGdiplus::GdiplusShutdown(ULONG_PTR) {
    if (m_startups > 0) {
        --m_startups;
    }
}

HRESULT TurboJpegGdiplus::CLSIDFromString(const WCHAR* text, CLSID* clsid) {
    if (!text || !clsid) {
        return kHResultInvalidArgument;
    }
    return parseGuid(text, clsid) ? kHResultOk : kHResultClassStringError;
}

}  // namespace encode
