#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace encode {

class PixelBuffer;
class JpegRowEncoder;

// The bytes of a JPEG file as libjpeg-turbo made them.
class JpegBytes {
public:
    const unsigned char* data() const { return m_data.get(); }
    std::size_t size() const { return m_size; }

private:
    struct Free {
        void (*release)(unsigned char*);
        void operator()(unsigned char* buffer) const { release(buffer); }
    };
    friend std::optional<JpegBytes> encodeJpeg(const PixelBuffer& pixels, int quality);
    friend class JpegRowEncoder;
    std::unique_ptr<unsigned char, Free> m_data;
    std::size_t m_size = 0;
};

// The save's JPEG: the pixels at their own size, 4:2:0 chroma, the quality (0 to 100) handed to
// the encoder unchanged. Nothing when the encoder fails.
std::optional<JpegBytes> encodeJpeg(const PixelBuffer& pixels, int quality);

// The same encoder fed rows of RGB pixels from the top a band at a time, so no buffer the size
// of the picture is needed: the bytes are those encodeJpeg makes of the same pixels.
class JpegRowEncoder {
public:
    JpegRowEncoder();
    ~JpegRowEncoder();
    JpegRowEncoder(const JpegRowEncoder&) = delete;
    JpegRowEncoder& operator=(const JpegRowEncoder&) = delete;

    // Each call false when the encoder fails; then nothing more is done.
    bool start(int width, int height, int quality);
    bool write(std::uint8_t* const* rows, int count);
    // The file, once every row is written.
    std::optional<JpegBytes> finish();

    struct State;

private:
    std::unique_ptr<State> m_state;
};

}  // namespace encode
