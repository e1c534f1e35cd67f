#include "encode/jpegencoder.h"

#include <turbojpeg.h>

// jpeglib.h needs FILE and size_t declared before it.
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include <jerror.h>

#include <csetjmp>

#include "encode/outputpixels.h"

namespace encode {

namespace {

void freeTurboJpeg(unsigned char* buffer) {
    tjFree(buffer);
}

void freeMalloced(unsigned char* buffer) {
    std::free(buffer);
}

// TurboJPEG's whole-picture encoder below this quality uses the fast integer transform.
constexpr int kAccurateTransformQuality = 96;

}  // namespace

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
    bytes.m_data = std::unique_ptr<unsigned char, JpegBytes::Free>(jpeg, {freeTurboJpeg});
    if (failed) {
        return std::nullopt;
    }
    bytes.m_size = jpegSize;
    return bytes;
}

// Everything libjpeg touches lives here, outside the functions that call setjmp, so a longjmp
// out of libjpeg skips no destructor. The file grows in a buffer of our own, which an
// abandoned encoder frees as well.
struct JpegRowEncoder::State {
    ~State() {
        jpeg_destroy_compress(&info);
        std::free(buffer);
    }

    jpeg_compress_struct info = {};
    jpeg_error_mgr errors = {};
    jpeg_destination_mgr destination = {};
    std::jmp_buf jump = {};
    unsigned char* buffer = nullptr;
    std::size_t capacity = 0;
    std::size_t size = 0;
    bool failed = false;
};

namespace {

constexpr std::size_t kFirstBufferBytes = 256u << 10;

JpegRowEncoder::State& stateOf(j_common_ptr info) {
    return *static_cast<JpegRowEncoder::State*>(info->client_data);
}

void encoderErrorExit(j_common_ptr info) {
    std::longjmp(stateOf(info).jump, 1);
}

// Doubles the buffer; realloc moves large blocks without copying them.
boolean growBuffer(j_compress_ptr info) {
    JpegRowEncoder::State& s = stateOf(reinterpret_cast<j_common_ptr>(info));
    const std::size_t capacity = s.capacity ? s.capacity * 2 : kFirstBufferBytes;
    auto* grown = static_cast<unsigned char*>(std::realloc(s.buffer, capacity));
    if (grown == nullptr) {
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    }
    s.destination.next_output_byte = grown + s.capacity;
    s.destination.free_in_buffer = capacity - s.capacity;
    s.buffer = grown;
    s.capacity = capacity;
    return TRUE;
}

void startBuffer(j_compress_ptr info) {
    JpegRowEncoder::State& s = stateOf(reinterpret_cast<j_common_ptr>(info));
    s.capacity = 0;
    growBuffer(info);
}

void endBuffer(j_compress_ptr info) {
    JpegRowEncoder::State& s = stateOf(reinterpret_cast<j_common_ptr>(info));
    s.size = s.capacity - s.destination.free_in_buffer;
}

// Only plain values live in these frames: libjpeg leaves them by longjmp on any error. The
// set-up is TurboJPEG's for RGB pixels, 4:2:0 and the quality, so the bytes are its bytes.
bool startCompress(JpegRowEncoder::State& s, int width, int height, int quality) {
    if (setjmp(s.jump)) {
        return false;
    }
    jpeg_create_compress(&s.info);
    s.destination.init_destination = startBuffer;
    s.destination.empty_output_buffer = growBuffer;
    s.destination.term_destination = endBuffer;
    s.info.dest = &s.destination;
    s.info.image_width = JDIMENSION(width);
    s.info.image_height = JDIMENSION(height);
    s.info.in_color_space = JCS_EXT_RGB;
    s.info.input_components = 3;
    jpeg_set_defaults(&s.info);
    jpeg_set_quality(&s.info, quality, TRUE);
    s.info.dct_method = quality >= kAccurateTransformQuality ? JDCT_ISLOW : JDCT_FASTEST;
    jpeg_set_colorspace(&s.info, JCS_YCbCr);
    s.info.comp_info[0].h_samp_factor = 2;
    s.info.comp_info[0].v_samp_factor = 2;
    for (int c = 1; c < 3; ++c) {
        s.info.comp_info[c].h_samp_factor = 1;
        s.info.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&s.info, TRUE);
    return true;
}

bool writeRows(JpegRowEncoder::State& s, std::uint8_t* const* rows, int count) {
    if (setjmp(s.jump)) {
        return false;
    }
    JDIMENSION done = 0;
    while (done < JDIMENSION(count)) {
        done += jpeg_write_scanlines(&s.info, const_cast<JSAMPARRAY>(rows) + done,
                                     JDIMENSION(count) - done);
    }
    return true;
}

bool finishCompress(JpegRowEncoder::State& s) {
    if (setjmp(s.jump)) {
        return false;
    }
    jpeg_finish_compress(&s.info);
    return true;
}

}  // namespace

JpegRowEncoder::JpegRowEncoder() : m_state(std::make_unique<State>()) {
    m_state->info.err = jpeg_std_error(&m_state->errors);
    m_state->errors.error_exit = encoderErrorExit;
    m_state->info.client_data = m_state.get();
}

JpegRowEncoder::~JpegRowEncoder() = default;

bool JpegRowEncoder::start(int width, int height, int quality) {
    m_state->failed = m_state->failed || !startCompress(*m_state, width, height, quality);
    return !m_state->failed;
}

bool JpegRowEncoder::write(std::uint8_t* const* rows, int count) {
    m_state->failed = m_state->failed || !writeRows(*m_state, rows, count);
    return !m_state->failed;
}

std::optional<JpegBytes> JpegRowEncoder::finish() {
    if (m_state->failed || !finishCompress(*m_state)) {
        m_state->failed = true;
        return std::nullopt;
    }
    JpegBytes bytes;
    bytes.m_data = std::unique_ptr<unsigned char, JpegBytes::Free>(m_state->buffer, {freeMalloced});
    bytes.m_size = m_state->size;
    m_state->buffer = nullptr;
    return bytes;
}

}  // namespace encode
