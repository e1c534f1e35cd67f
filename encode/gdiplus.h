#pragma once

#include <cstdint>
#include <memory>

namespace encode {

class OutputBitmap;

// The handful of GDI+ and COM types the JPEG save speaks, in their platform layouts.
using ULONG_PTR = std::uintptr_t;
using HRESULT = std::int32_t;
using WCHAR = char16_t;
// A bitmap handle is our own picture made ready for output; it must outlive every bitmap made
// from it.
using HBITMAP = const OutputBitmap*;
using HPALETTE = void*;

// Status numbers as GDI+ returns them.
enum class GpStatus : int {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
    NotTrueTypeFont = 16,
    UnsupportedGdiplusVersion = 17,
    GdiplusNotInitialized = 18,
    PropertyNotFound = 19,
    PropertyNotSupported = 20,
};

constexpr HRESULT kHResultOk = 0;
constexpr HRESULT kHResultClassStringError = HRESULT(0x800401F3u);  // CO_E_CLASSSTRING
constexpr HRESULT kHResultInvalidArgument = HRESULT(0x80070057u);   // E_INVALIDARG

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend bool operator==(const GUID&, const GUID&) = default;
};
using CLSID = GUID;

using DebugEventProc = void (*)(int level, char* message);

struct GdiplusStartupInput {
    std::uint32_t GdiplusVersion;
    DebugEventProc DebugEventCallback;
    std::int32_t SuppressBackgroundThread;  // a 32-bit boolean
    std::int32_t SuppressExternalCodecs;    // a 32-bit boolean
};

struct GdiplusStartupOutput {
    void* NotificationHook;
    void* NotificationUnhook;
};

// Value type 4: each value is a 32-bit unsigned integer.
constexpr std::uint32_t EncoderParameterValueTypeLong = 4;

struct EncoderParameter {
    GUID Guid;
    std::uint32_t NumberOfValues;
    std::uint32_t Type;
    void* Value;
};

struct EncoderParameters {
    std::uint32_t Count;
    EncoderParameter Parameter[1];
};

// The JPEG encoder's class identifier and the quality parameter's identifier, as text.
inline constexpr WCHAR kJpegEncoderClsidText[] = u"{557CF401-1A04-11D3-9A73-0000F81EF32E}";
inline constexpr WCHAR kEncoderQualityGuidText[] = u"{1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}";

class GpImage {
public:
    virtual ~GpImage() = default;
};

// A bitmap made from a bitmap handle; it reads the handle's pixels, it does not copy them.
class GpBitmap : public GpImage {
public:
    explicit GpBitmap(const OutputBitmap& pixels) : m_pixels(pixels) {}
    const OutputBitmap& pixels() const { return m_pixels; }

private:
    const OutputBitmap& m_pixels;
};

// The calls the JPEG save makes, in the shape of the GDI+ flat interface and COM's
// CLSIDFromString, so a test can put a failing layer in its place.
class GdiplusApi {
public:
    virtual ~GdiplusApi() = default;

    virtual GpStatus GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                                    GdiplusStartupOutput* output) = 0;
    virtual GpStatus GdipCreateBitmapFromHBITMAP(HBITMAP hbm, HPALETTE hpal, GpBitmap** bitmap) = 0;
    virtual GpStatus GdipSaveImageToFile(GpImage* image, const WCHAR* filename,
                                         const CLSID* clsidEncoder,
                                         const EncoderParameters* encoderParams) = 0;
    virtual GpStatus GdipDisposeImage(GpImage* image) = 0;
    virtual void GdiplusShutdown(ULONG_PTR token) = 0;
    virtual HRESULT CLSIDFromString(const WCHAR* text, CLSID* clsid) = 0;
};

// The real layer: JPEG encoding with libjpeg-turbo, files written whole or not at all. Knows one
// encoder (JPEG) and one parameter (quality, 0 to 100; 75 when none is given). A picture that
// turns out not to decode while it is saved leaves with its own error.
class TurboJpegGdiplus : public GdiplusApi {
public:
    GpStatus GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                            GdiplusStartupOutput* output) override;
    GpStatus GdipCreateBitmapFromHBITMAP(HBITMAP hbm, HPALETTE hpal, GpBitmap** bitmap) override;
    GpStatus GdipSaveImageToFile(GpImage* image, const WCHAR* filename, const CLSID* clsidEncoder,
                                 const EncoderParameters* encoderParams) override;
    GpStatus GdipDisposeImage(GpImage* image) override;
    void GdiplusShutdown(ULONG_PTR token) override;
    HRESULT CLSIDFromString(const WCHAR* text, CLSID* clsid) override;

private:
    bool started() const { return m_startups > 0; }

    int m_startups = 0;
    ULONG_PTR m_nextToken = 1;
};

}  // namespace encode
