#pragma once

#include <cstddef>
#include <memory>
#include <optional>

namespace encode {

class PixelBuffer;

// The bytes of a JPEG file as libjpeg-turbo made them.
class JpegBytes {
public:
    const unsigned char* data() const { return m_data.get(); }
    std::size_t size() const { return m_size; }

private:
    struct Free {
        void operator()(unsigned char* buffer) const;
    };
    friend std::optional<JpegBytes> encodeJpeg(const PixelBuffer& pixels, int quality);
    std::unique_ptr<unsigned char, Free> m_data;
    std::size_t m_size = 0;
};

// The save's JPEG: the pixels at their own size, 4:2:0 chroma, the quality (0 to 100) handed to
// the encoder unchanged. Nothing when the encoder fails.
std::optional<JpegBytes> encodeJpeg(const PixelBuffer& pixels, int quality);

}  // namespace encode
