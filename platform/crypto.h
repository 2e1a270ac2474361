#pragma once
// Hashes, Ed25519 signatures and base64, on OpenSSL's libcrypto (crypto_openssl.cpp) or on
// libsodium (crypto_sodium.cpp, where there is no libcrypto: Windows); both pass the same
// known-answer tests. Nothing here throws: a failure of the library (out of memory, in
// practice) is an empty optional or a false.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace toval {

using Sha256Digest = std::array<uint8_t, 32>;
using Blake2b256Digest = std::array<uint8_t, 32>;
using Blake2b512Digest = std::array<uint8_t, 64>;
using Ed25519Seed = std::array<uint8_t, 32>;
using Ed25519PublicKey = std::array<uint8_t, 32>;
using Ed25519Signature = std::array<uint8_t, 64>;

// A SHA-256 fed piece by piece. A library failure at any step is remembered and reported by
// Final, so a caller checks once.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;

    void Update(const void* data, size_t size);
    void Update(std::string_view data) { Update(data.data(), data.size()); }
    // The digest of everything given; afterwards the object starts over as if new.
    std::optional<Sha256Digest> Final();

  private:
    struct State;  // the library's
    std::unique_ptr<State> Impl;
    bool Failed = false;
};

// 64 hexadecimal digits of either case; nothing for anything else (no blanks, no prefix).
std::optional<Sha256Digest> ParseSha256Hex(std::string_view hex);
// Lower-case hexadecimal of `size` bytes.
std::string ToHex(const uint8_t* data, size_t size);

// The SHA-256 of bytes all in memory; nothing when the library fails.
std::optional<Sha256Digest> Sha256Of(std::string_view data);
std::optional<Blake2b512Digest> Blake2b512(std::string_view data);
// BLAKE2b with a 32-byte output, which is a hash of its own (the output length is hashed in),
// not a truncation of the 64-byte one.
Blake2b256Digest Blake2b256(std::string_view data);

bool VerifyEd25519(const Ed25519PublicKey& key, std::string_view message,
                   const Ed25519Signature& signature);
std::optional<Ed25519Signature> SignEd25519(const Ed25519Seed& seed, std::string_view message);
std::optional<Ed25519PublicKey> Ed25519PublicFromSeed(const Ed25519Seed& seed);

struct Ed25519KeyPair {
    Ed25519Seed Seed{};
    Ed25519PublicKey Public{};
};
std::optional<Ed25519KeyPair> GenerateEd25519();

// Bytes from the system's random source; false when it has none to give.
bool RandomBytes(uint8_t* data, size_t size);

// Standard base64 with '=' padding.
std::string Base64Encode(std::string_view data);
// The bytes of exactly one canonical encoding: the standard alphabet, a length divisible by four,
// the padding it needs and no more, unused bits zero, nothing else (no blanks or line breaks).
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace toval
