#include "workbook/xls/rc4crypto.h"

#include <cstring>
#include <utility>

namespace workbook {
namespace {

constexpr std::uint32_t kMd5Sine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kMd5Shift[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

std::uint32_t rotl(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// Both digests pad the message the same way: 0x80, zeros, then the bit length in the last
// eight bytes, little-endian for MD5 and big-endian for SHA-1.
std::vector<std::uint8_t> padded(const std::uint8_t* data, std::size_t size, bool bigEndian) {
    std::vector<std::uint8_t> m(data, data + size);
    m.push_back(0x80);
    while (m.size() % 64 != 56) {
        m.push_back(0);
    }
    std::uint64_t bits = std::uint64_t(size) * 8;
    for (int i = 0; i < 8; ++i) {
        m.push_back(std::uint8_t(bits >> (8 * (bigEndian ? 7 - i : i))));
    }
    return m;
}

}  // namespace

std::array<std::uint8_t, 16> md5(const std::uint8_t* data, std::size_t size) {
    std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    std::vector<std::uint8_t> m = padded(data, size, false);
    for (std::size_t at = 0; at < m.size(); at += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) {
            const std::uint8_t* p = &m[at + 4 * i];
            w[i] = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                   (std::uint32_t(p[3]) << 24);
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f;
            int g;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            std::uint32_t next = d;
            d = c;
            c = b;
            b = b + rotl(a + f + kMd5Sine[i] + w[g], kMd5Shift[(i / 16) * 4 + i % 4]);
            a = next;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }
    std::array<std::uint8_t, 16> out;
    for (int i = 0; i < 16; ++i) {
        out[i] = std::uint8_t(h[i / 4] >> (8 * (i % 4)));
    }
    return out;
}

std::array<std::uint8_t, 20> sha1(const std::uint8_t* data, std::size_t size) {
    std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::vector<std::uint8_t> m = padded(data, size, true);
    for (std::size_t at = 0; at < m.size(); at += 64) {
        std::uint32_t w[80];
        for (int i = 0; i < 16; ++i) {
            const std::uint8_t* p = &m[at + 4 * i];
            w[i] = (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) |
                   (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
        }
        for (int i = 16; i < 80; ++i) {
            w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            std::uint32_t f, k;
            if (i < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            std::uint32_t t = rotl(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = rotl(b, 30);
            b = a;
            a = t;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    std::array<std::uint8_t, 20> out;
    for (int i = 0; i < 20; ++i) {
        out[i] = std::uint8_t(h[i / 4] >> (8 * (3 - i % 4)));
    }
    return out;
}

Rc4::Rc4(const std::uint8_t* key, std::size_t size) {
    for (int i = 0; i < 256; ++i) {
        m_s[i] = std::uint8_t(i);
    }
    std::uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = std::uint8_t(j + m_s[i] + key[std::size_t(i) % size]);
        std::swap(m_s[i], m_s[j]);
    }
}

void Rc4::apply(std::uint8_t* data, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        m_i = std::uint8_t(m_i + 1);
        m_j = std::uint8_t(m_j + m_s[m_i]);
        std::swap(m_s[m_i], m_s[m_j]);
        data[k] ^= m_s[std::uint8_t(m_s[m_i] + m_s[m_j])];
    }
}

void Rc4::skip(std::size_t n) {
    std::uint8_t sink[64] = {};
    while (n > 0) {
        std::size_t take = n < sizeof sink ? n : sizeof sink;
        apply(sink, take);
        n -= take;
    }
}

}  // namespace workbook
