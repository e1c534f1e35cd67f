#include "encode/jpegencoder.h"

#include <turbojpeg.h>

#include "encode/outputpixels.h"

namespace encode {

void JpegBytes::Free::operator()(unsigned char* buffer) const {
    tjFree(buffer);
}

std::optional<JpegBytes> encodeJpeg(const PixelBuffer& pixels, int quality) {
    struct Destroy {
        void operator()(void* handle) const { tjDestroy(handle); }
    };
    std::unique_ptr<void, Destroy> compressor(tjInitCompress());
    if (!compressor) {
        return std::nullopt;
    }
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    // The pixel buffer is a bottom-up bitmap, which the encoder reads in place.
    const int format = pixels.order() == ChannelOrder::Bgr ? TJPF_BGR : TJPF_RGB;
    const int failed = tjCompress2(compressor.get(), pixels.data(), pixels.width(),
                                   int(pixels.stride()), pixels.height(), format, &jpeg, &jpegSize,
                                   TJSAMP_420, quality, TJFLAG_BOTTOMUP);
    JpegBytes bytes;
    bytes.m_data.reset(jpeg);
    if (failed) {
        return std::nullopt;
    }
    bytes.m_size = jpegSize;
    return bytes;
}

}  // namespace encode
