// What the crypto toolkit computes the same way whichever library backs it: hexadecimal, base64,
// BLAKE2b-256 and key generation on top of the library's own parts.

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/crypto.h"

namespace toval {

namespace {

// BLAKE2b with a 32-byte output (RFC 7693), which minisign's secret key checksum uses: libcrypto
// 3.0 (Debian 12) has only the 64-byte one, and the 32-byte one is a different hash.
class Blake2b {
  public:
    explicit Blake2b(size_t outLen) : OutLen(outLen) {
        for (int i = 0; i < 8; ++i) H[i] = kIv[i];
        H[0] ^= 0x01010000u ^ outLen;
    }

    void Hash(const uint8_t* data, size_t size, uint8_t* out) {
        uint64_t counter = 0;
        // The last block, even an empty one, is compressed with the final flag.
        while (size > kBlock) {
            counter += kBlock;
            Compress(data, counter, false);
            data += kBlock;
            size -= kBlock;
        }
        uint8_t last[kBlock] = {};
        if (size > 0) std::memcpy(last, data, size);
        counter += size;
        Compress(last, counter, true);
        for (size_t i = 0; i < OutLen; ++i)
            out[i] = static_cast<uint8_t>(H[i / 8] >> (8 * (i % 8)));
    }

  private:
    static constexpr size_t kBlock = 128;
    static constexpr uint64_t kIv[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                        0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                        0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
    static constexpr uint8_t kSigma[10][16] = {
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
        {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
        {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4},
        {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
        {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13},
        {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
        {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11},
        {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
        {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5},
        {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0},
    };

    static uint64_t Rotr(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

    static void Mix(uint64_t* v, int a, int b, int c, int d, uint64_t x, uint64_t y) {
        v[a] = v[a] + v[b] + x;
        v[d] = Rotr(v[d] ^ v[a], 32);
        v[c] = v[c] + v[d];
        v[b] = Rotr(v[b] ^ v[c], 24);
        v[a] = v[a] + v[b] + y;
        v[d] = Rotr(v[d] ^ v[a], 16);
        v[c] = v[c] + v[d];
        v[b] = Rotr(v[b] ^ v[c], 63);
    }

    void Compress(const uint8_t* block, uint64_t counter, bool last) {
        uint64_t m[16];
        for (int i = 0; i < 16; ++i) {
            m[i] = 0;
            for (int j = 7; j >= 0; --j) m[i] = (m[i] << 8) | block[8 * i + j];
        }
        uint64_t v[16];
        for (int i = 0; i < 8; ++i) {
            v[i] = H[i];
            v[i + 8] = kIv[i];
        }
        v[12] ^= counter;  // inputs here stay far below 2^64 bytes: the high word is zero
        if (last) v[14] = ~v[14];
        for (int round = 0; round < 12; ++round) {
            const uint8_t* s = kSigma[round % 10];
            Mix(v, 0, 4, 8, 12, m[s[0]], m[s[1]]);
            Mix(v, 1, 5, 9, 13, m[s[2]], m[s[3]]);
            Mix(v, 2, 6, 10, 14, m[s[4]], m[s[5]]);
            Mix(v, 3, 7, 11, 15, m[s[6]], m[s[7]]);
            Mix(v, 0, 5, 10, 15, m[s[8]], m[s[9]]);
            Mix(v, 1, 6, 11, 12, m[s[10]], m[s[11]]);
            Mix(v, 2, 7, 8, 13, m[s[12]], m[s[13]]);
            Mix(v, 3, 4, 9, 14, m[s[14]], m[s[15]]);
        }
        for (int i = 0; i < 8; ++i) H[i] ^= v[i] ^ v[i + 8];
    }

    size_t OutLen;
    uint64_t H[8];
};

// By table: a signed catalogue of 100,000 files has 6.4 million hex digits to read on every
// launch, where a chain of comparisons per digit cost more than the rest of its checks.
constexpr std::array<int8_t, 256> kHexValues = [] {
    std::array<int8_t, 256> values{};
    values.fill(-1);
    for (int c = '0'; c <= '9'; ++c) values[static_cast<size_t>(c)] = static_cast<int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c)
        values[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c)
        values[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'A' + 10);
    return values;
}();

int HexValue(char c) { return kHexValues[static_cast<unsigned char>(c)]; }

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::optional<Sha256Digest> Sha256Of(std::string_view data) {
    Sha256 hash;
    hash.Update(data);
    return hash.Final();
}

std::optional<Sha256Digest> ParseSha256Hex(std::string_view hex) {
    Sha256Digest digest{};
    if (hex.size() != 2 * digest.size()) return std::nullopt;
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = HexValue(hex[2 * i]);
        const int low = HexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return digest;
}

std::string ToHex(const uint8_t* data, size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * size);
    for (size_t i = 0; i < size; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 15];
    }
    return hex;
}

Blake2b256Digest Blake2b256(std::string_view data) {
    Blake2b256Digest digest{};
    Blake2b(digest.size())
        .Hash(reinterpret_cast<const uint8_t*>(data.data()), data.size(), digest.data());
    return digest;
}

std::optional<Ed25519KeyPair> GenerateEd25519() {
    Ed25519KeyPair pair;
    if (!RandomBytes(pair.Seed.data(), pair.Seed.size())) return std::nullopt;
    const auto key = Ed25519PublicFromSeed(pair.Seed);
    if (!key) return std::nullopt;
    pair.Public = *key;
    return pair;
}

std::string Base64Encode(std::string_view data) {
    std::string text;
    text.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const uint32_t n = uint32_t(uint8_t(data[i])) << 16 | uint32_t(uint8_t(data[i + 1])) << 8 |
                           uint8_t(data[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) text += kBase64Alphabet[(n >> shift) & 63];
    }
    const size_t rest = data.size() - i;
    if (rest > 0) {
        uint32_t n = uint32_t(uint8_t(data[i])) << 16;
        if (rest == 2) n |= uint32_t(uint8_t(data[i + 1])) << 8;
        text += kBase64Alphabet[(n >> 18) & 63];
        text += kBase64Alphabet[(n >> 12) & 63];
        text += rest == 2 ? kBase64Alphabet[(n >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    std::string data;
    data.reserve(text.size() / 4 * 3);
    uint32_t bits = 0;
    int count = 0;
    for (size_t i = 0; i < text.size() - padding; ++i) {
        const int value = Base64Value(text[i]);
        if (value < 0) return std::nullopt;  // also a '=' before the end
        bits = bits << 6 | static_cast<uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            data += static_cast<char>((bits >> count) & 0xff);
        }
    }
    // What is left over must be the bits a shorter group pads with, all zero; a group of one
    // character cannot hold a byte at all.
    if (padding > 0 &&
        (count != 2 * static_cast<int>(padding) || (bits & ((1u << count) - 1)) != 0))
        return std::nullopt;
    return data;
}

}  // namespace toval
