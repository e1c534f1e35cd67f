#include "workbook/xls/xlsdecryption.h"

#include <algorithm>
#include <optional>

#include "workbook/xls/rc4crypto.h"

namespace workbook {
namespace {

using biff::le16;
using biff::le32;

// A new RC4 key for every 1024 bytes of the stream, the block number counted from its start;
// record headers and clear records use up key stream all the same.
constexpr std::uint64_t kBlockBytes = 1024;

using KeyMaker = std::vector<std::uint8_t> (*)(const std::vector<std::uint8_t>& base,
                                               std::uint32_t block);

class BlockDecryptor : public biff::Decryptor {
public:
    BlockDecryptor(std::vector<std::uint8_t> base, KeyMaker keyFor)
        : m_base(std::move(base)), m_keyFor(keyFor) {}

    void decrypt(std::uint64_t offset, std::uint8_t* data, std::size_t n) override {
        while (n > 0) {
            std::uint64_t block = offset / kBlockBytes;
            std::uint64_t within = offset % kBlockBytes;
            std::size_t take = std::size_t(std::min<std::uint64_t>(n, kBlockBytes - within));
            // Reads mostly move forward within a block: the cipher carries on from the last one.
            if (!m_rc4 || block != m_block || within < m_position) {
                std::vector<std::uint8_t> key = m_keyFor(m_base, std::uint32_t(block));
                m_rc4.emplace(key.data(), key.size());
                m_block = block;
                m_position = 0;
            }
            m_rc4->skip(std::size_t(within - m_position));
            m_rc4->apply(data, take);
            m_position = within + take;
            offset += take;
            data += take;
            n -= take;
        }
    }

private:
    std::vector<std::uint8_t> m_base;
    KeyMaker m_keyFor;
    std::optional<Rc4> m_rc4;
    std::uint64_t m_block = 0;
    std::uint64_t m_position = 0;
};

std::vector<std::uint8_t> utf16(std::u16string_view text) {
    std::vector<std::uint8_t> out;
    for (char16_t c : text) {
        out.push_back(std::uint8_t(c));
        out.push_back(std::uint8_t(c >> 8));
    }
    return out;
}

void appendBlock(std::vector<std::uint8_t>& bytes, std::uint32_t block) {
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(std::uint8_t(block >> (8 * i)));
    }
}

// RC4 "Office 97": base = the first 5 bytes of MD5 over 16 copies of (5 bytes of MD5 of the
// password, salt); the block key is MD5 of base and block number.
std::vector<std::uint8_t> rc4Key(const std::vector<std::uint8_t>& base, std::uint32_t block) {
    std::vector<std::uint8_t> input = base;
    appendBlock(input, block);
    auto h = md5(input.data(), input.size());
    return std::vector<std::uint8_t>(h.begin(), h.end());
}

// RC4 CryptoAPI: base = SHA-1 of salt and password, then the key length in bytes; the block
// key is the start of SHA-1 of base and block number, a 40-bit one padded to 128 bits.
std::vector<std::uint8_t> cryptoApiKey(const std::vector<std::uint8_t>& base, std::uint32_t block) {
    std::vector<std::uint8_t> input(base.begin(), base.end() - 1);
    appendBlock(input, block);
    auto h = sha1(input.data(), input.size());
    std::size_t length = base.back();
    std::vector<std::uint8_t> key(h.begin(), h.begin() + long(length));
    if (length == 5) {
        key.resize(16, 0);
    }
    return key;
}

// The verifier and its hash, decrypted in one run of the block 0 key stream, must match.
template <typename Digest>
bool verifies(BlockDecryptor& decryptor, std::vector<std::uint8_t> verifier,
              std::vector<std::uint8_t> hash, Digest digest) {
    std::vector<std::uint8_t> both = verifier;
    both.insert(both.end(), hash.begin(), hash.end());
    decryptor.decrypt(0, both.data(), both.size());
    auto expected = digest(both.data(), verifier.size());
    return std::equal(expected.begin(), expected.end(), both.begin() + long(verifier.size()),
                      both.end());
}

}  // namespace

std::unique_ptr<biff::Decryptor> xlsDecryptor(const std::vector<std::uint8_t>& filePass,
                                              std::u16string_view password) {
    // wEncryptionType 1 (RC4), then the version; 0 is XOR obfuscation.
    if (filePass.size() < 6 || le16(filePass.data()) != 1) {
        return nullptr;
    }
    const std::uint8_t* p = filePass.data();
    std::uint16_t major = le16(p + 2), minor = le16(p + 4);
    std::vector<std::uint8_t> secret = utf16(password);

    if (major == 1 && minor == 1) {
        if (filePass.size() < 6 + 48) {
            return nullptr;
        }
        const std::uint8_t* salt = p + 6;
        auto h0 = md5(secret.data(), secret.size());
        std::vector<std::uint8_t> buffer;
        for (int i = 0; i < 16; ++i) {
            buffer.insert(buffer.end(), h0.begin(), h0.begin() + 5);
            buffer.insert(buffer.end(), salt, salt + 16);
        }
        auto h1 = md5(buffer.data(), buffer.size());
        auto decryptor = std::make_unique<BlockDecryptor>(
            std::vector<std::uint8_t>(h1.begin(), h1.begin() + 5), rc4Key);
        if (!verifies(*decryptor, {p + 22, p + 38}, {p + 38, p + 54}, md5)) {
            return nullptr;
        }
        return decryptor;
    }

    if (major >= 2 && major <= 4 && minor == 2) {
        // Flags, header size, the EncryptionHeader, then the EncryptionVerifier.
        if (filePass.size() < 14) {
            return nullptr;
        }
        std::uint64_t headerSize = le32(p + 10);
        std::uint64_t verifierAt = 14 + headerSize;
        if (headerSize < 20 || verifierAt + 4 + 16 + 16 + 4 + 20 > filePass.size() ||
            le32(p + verifierAt) != 16 || le32(p + verifierAt + 36) != 20) {
            return nullptr;
        }
        std::uint32_t bits = le32(p + 14 + 16);
        bits = bits == 0 ? 40 : bits;
        if (bits < 40 || bits > 128 || bits % 8 != 0) {
            return nullptr;
        }
        const std::uint8_t* salt = p + verifierAt + 4;
        std::vector<std::uint8_t> input(salt, salt + 16);
        input.insert(input.end(), secret.begin(), secret.end());
        auto h0 = sha1(input.data(), input.size());
        std::vector<std::uint8_t> base(h0.begin(), h0.end());
        base.push_back(std::uint8_t(bits / 8));
        auto decryptor = std::make_unique<BlockDecryptor>(std::move(base), cryptoApiKey);
        const std::uint8_t* verifier = salt + 16;
        if (!verifies(*decryptor, {verifier, verifier + 16}, {verifier + 20, verifier + 40},
                      sha1)) {
            return nullptr;
        }
        return decryptor;
    }
    return nullptr;
}

}  // namespace workbook
