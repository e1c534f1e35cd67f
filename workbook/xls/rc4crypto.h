#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace workbook {

// The pieces of the RC4 encryption of binary workbooks ([MS-OFFCRYPTO] 2.3.5, 2.3.6): the
// stream cipher itself and the MD5 and SHA-1 digests its keys are made from. Small and public
// (RFC 1321, FIPS 180-4); they serve only to open workbooks saved with the default password.
std::array<std::uint8_t, 16> md5(const std::uint8_t* data, std::size_t size);
std::array<std::uint8_t, 20> sha1(const std::uint8_t* data, std::size_t size);

class Rc4 {
public:
    Rc4(const std::uint8_t* key, std::size_t size);
    // XORs the next n bytes of the key stream into data.
    void apply(std::uint8_t* data, std::size_t n);
    void skip(std::size_t n);

private:
    std::uint8_t m_s[256];
    std::uint8_t m_i = 0;
    std::uint8_t m_j = 0;
};

}  // namespace workbook
