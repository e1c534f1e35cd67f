#pragma once

#include <cstddef>
#include <cstdint>

namespace workbook {

// Reads integers from a byte range in either byte order. A read past the end yields zero and
// sets a failure flag that stays set, so a parser can read a whole structure and check once.
class BoundedCursor {
public:
    BoundedCursor(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool failed() const { return m_failed; }
    std::size_t position() const { return m_pos; }
    std::size_t size() const { return m_size; }
    std::size_t remaining() const { return m_failed ? 0 : m_size - m_pos; }
    const std::uint8_t* here() const { return m_data + m_pos; }

    // Moves to an absolute offset; past the end fails.
    void seek(std::size_t offset) {
        if (offset > m_size) {
            fail();
        } else if (!m_failed) {
            m_pos = offset;
        }
    }
    void skip(std::size_t n) {
        if (!has(n)) {
            fail();
        } else {
            m_pos += n;
        }
    }
    bool has(std::size_t n) const { return !m_failed && n <= m_size - m_pos; }
    void fail() {
        m_failed = true;
        m_pos = m_size;
    }

    std::uint8_t u8() { return std::uint8_t(take(1)); }
    std::uint16_t u16le() { return std::uint16_t(take(2)); }
    std::uint32_t u32le() { return std::uint32_t(take(4)); }
    std::int16_t i16le() { return std::int16_t(u16le()); }
    std::int32_t i32le() { return std::int32_t(u32le()); }
    std::uint16_t u16be() { return swap16(u16le()); }
    std::uint32_t u32be() { return swap32(u32le()); }
    std::int16_t i16be() { return std::int16_t(u16be()); }
    std::int32_t i32be() { return std::int32_t(u32be()); }
    float f32le() {
        std::uint32_t bits = u32le();
        float value;
        static_assert(sizeof value == sizeof bits);
        __builtin_memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    // Little-endian value of the next n bytes (n up to 4), or zero past the end.
    std::uint32_t take(std::size_t n) {
        if (!has(n)) {
            fail();
            return 0;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < n; ++i) {
            value |= std::uint32_t(m_data[m_pos + i]) << (8 * i);
        }
        m_pos += n;
        return value;
    }
    static std::uint16_t swap16(std::uint16_t v) { return std::uint16_t((v >> 8) | (v << 8)); }
    static std::uint32_t swap32(std::uint32_t v) {
        return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    bool m_failed = false;
};

}  // namespace workbook
