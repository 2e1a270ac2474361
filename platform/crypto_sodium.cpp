// The crypto toolkit on libsodium, for builds without OpenSSL's libcrypto (Windows, where the
// system's own crypto has SHA-256 but neither Ed25519 nor BLAKE2b).

#include <sodium.h>

#include "platform/crypto.h"

namespace toval {

namespace {

// sodium_init may be called any number of times, from any thread; it fails only when the
// system has no random source.
bool Ready() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

}  // namespace

struct Sha256::State {
    crypto_hash_sha256_state Ctx;
};

Sha256::Sha256() : Impl(std::make_unique<State>()) {
    Failed = !Ready() || crypto_hash_sha256_init(&Impl->Ctx) != 0;
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const void* data, size_t size) {
    if (Failed || size == 0) return;
    Failed =
        crypto_hash_sha256_update(&Impl->Ctx, static_cast<const unsigned char*>(data), size) != 0;
}

std::optional<Sha256Digest> Sha256::Final() {
    Sha256Digest digest{};
    const bool ok = !Failed && crypto_hash_sha256_final(&Impl->Ctx, digest.data()) == 0;
    Failed = crypto_hash_sha256_init(&Impl->Ctx) != 0;
    if (!ok) return std::nullopt;
    return digest;
}

std::optional<Blake2b512Digest> Blake2b512(std::string_view data) {
    Blake2b512Digest digest{};
    if (!Ready() || crypto_generichash_blake2b(digest.data(), digest.size(),
                                               reinterpret_cast<const unsigned char*>(data.data()),
                                               data.size(), nullptr, 0) != 0)
        return std::nullopt;
    return digest;
}

bool VerifyEd25519(const Ed25519PublicKey& key, std::string_view message,
                   const Ed25519Signature& signature) {
    return Ready() && crypto_sign_ed25519_verify_detached(
                          signature.data(), reinterpret_cast<const unsigned char*>(message.data()),
                          message.size(), key.data()) == 0;
}

std::optional<Ed25519Signature> SignEd25519(const Ed25519Seed& seed, std::string_view message) {
    unsigned char publicKey[crypto_sign_ed25519_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_ed25519_SECRETKEYBYTES];
    Ed25519Signature signature{};
    unsigned long long length = 0;
    const bool ok =
        Ready() && crypto_sign_ed25519_seed_keypair(publicKey, secretKey, seed.data()) == 0 &&
        crypto_sign_ed25519_detached(signature.data(), &length,
                                     reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size(), secretKey) == 0 &&
        length == signature.size();
    sodium_memzero(secretKey, sizeof secretKey);
    if (!ok) return std::nullopt;
    return signature;
}

std::optional<Ed25519PublicKey> Ed25519PublicFromSeed(const Ed25519Seed& seed) {
    Ed25519PublicKey key{};
    unsigned char secretKey[crypto_sign_ed25519_SECRETKEYBYTES];
    const bool ok =
        Ready() && crypto_sign_ed25519_seed_keypair(key.data(), secretKey, seed.data()) == 0;
    sodium_memzero(secretKey, sizeof secretKey);
    if (!ok) return std::nullopt;
    return key;
}

bool RandomBytes(uint8_t* data, size_t size) {
    if (!Ready()) return false;
    randombytes_buf(data, size);
    return true;
}

}  // namespace toval
