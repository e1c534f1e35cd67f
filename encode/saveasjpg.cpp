#include "encode/saveasjpg.h"

#include <optional>

#include "encode/gdiplus.h"
#include "encode/outputpixels.h"
#include "platform/runtimeerror.h"

namespace encode {

void SaveJPG(const platform::Picture& picture, const QString& fileName, std::uint8_t quality) {
    TurboJpegGdiplus gdiplus;
    SaveJPG(picture, fileName, quality, gdiplus);
}

void SaveJPG(const platform::Picture& picture, const QString& fileName, std::uint8_t quality,
             GdiplusApi& gdiplus) {
    GdiplusStartupInput input;
    input.GdiplusVersion = 1;
    input.DebugEventCallback = nullptr;
    input.SuppressBackgroundThread = 0;
    input.SuppressExternalCodecs = 0;
    ULONG_PTR token = 0;
    GpStatus status = gdiplus.GdiplusStartup(&token, &input, nullptr);

    if (status == GpStatus::Ok) {
        // The picture's bitmap handle: its pixels at its own size, transparency onto white.
        // A picture that does not decode still shuts the layer down before its error leaves.
        std::optional<OutputBitmap> pixels;
        try {
            pixels.emplace(picture);
        } catch (...) {
            gdiplus.GdiplusShutdown(token);
            throw;
        }
        GpBitmap* bitmap = nullptr;
        status = gdiplus.GdipCreateBitmapFromHBITMAP(&*pixels, nullptr, &bitmap);
        if (status == GpStatus::Ok) {
            CLSID encoder{};
            gdiplus.CLSIDFromString(kJpegEncoderClsidText, &encoder);
            EncoderParameters parameters{};
            std::uint32_t value = quality;
            parameters.Count = 1;
            gdiplus.CLSIDFromString(kEncoderQualityGuidText, &parameters.Parameter[0].Guid);
            parameters.Parameter[0].NumberOfValues = 1;
            parameters.Parameter[0].Type = EncoderParameterValueTypeLong;
            parameters.Parameter[0].Value = &value;

            std::u16string name = fileName.toStdU16String();
            // JPEG and PNG are decoded as they are encoded: one found damaged then leaves with
            // its own error, after the bitmap and the layer are let go.
            try {
                status = gdiplus.GdipSaveImageToFile(bitmap, name.c_str(), &encoder, &parameters);
            } catch (...) {
                gdiplus.GdipDisposeImage(bitmap);
                gdiplus.GdiplusShutdown(token);
                throw;
            }
            gdiplus.GdipDisposeImage(bitmap);
        }
        gdiplus.GdiplusShutdown(token);
    }

    if (status != GpStatus::Ok) {
        throw platform::RuntimeError(
            platform::err::kInvalidProcedureCall,
            QStringLiteral("Cannot save the image. GDI+ Error:%1").arg(int(status)));
    }
}

}  // namespace encode
