#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace workbook {

// SHA-256 of a byte run, for listing pictures by content.
class Sha256 {
public:
    Sha256();
    void update(const std::uint8_t* data, std::size_t size);
    std::array<std::uint8_t, 32> digest();
    // Lower-case hexadecimal digest of the whole input.
    static std::string hex(const std::uint8_t* data, std::size_t size);

private:
    void block(const std::uint8_t* p);
    std::uint32_t m_state[8];
    std::uint8_t m_buffer[64];
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0;
};

}  // namespace workbook
