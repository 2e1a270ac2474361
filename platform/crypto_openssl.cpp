// The crypto toolkit on OpenSSL's libcrypto, which libcurl already loads into the process on
// Linux; SHA-256 there uses the CPU's SHA instructions.

#include "platform/crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>

namespace toval {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// Ed25519 hashes the message twice itself, so libcrypto signs and verifies it only in one call on
// the whole message, never streamed.
using MdCtx = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
MdCtx NewMdCtx() { return MdCtx(EVP_MD_CTX_new(), &EVP_MD_CTX_free); }

}  // namespace

struct Sha256::State {
    MdCtx Ctx = NewMdCtx();
};

Sha256::Sha256() : Impl(std::make_unique<State>()) {
    Failed = !Impl->Ctx || EVP_DigestInit_ex(Impl->Ctx.get(), EVP_sha256(), nullptr) != 1;
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const void* data, size_t size) {
    if (Failed || size == 0) return;
    Failed = EVP_DigestUpdate(Impl->Ctx.get(), data, size) != 1;
}

std::optional<Sha256Digest> Sha256::Final() {
    Sha256Digest digest{};
    unsigned int length = 0;
    const bool ok =
        !Failed && EVP_DigestFinal_ex(Impl->Ctx.get(), digest.data(), &length) == 1 && length == 32;
    Failed = !Impl->Ctx || EVP_DigestInit_ex(Impl->Ctx.get(), EVP_sha256(), nullptr) != 1;
    if (!ok) return std::nullopt;
    return digest;
}

std::optional<Blake2b512Digest> Blake2b512(std::string_view data) {
    Blake2b512Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_blake2b512(), nullptr) !=
            1 ||
        length != digest.size())
        return std::nullopt;
    return digest;
}

bool VerifyEd25519(const Ed25519PublicKey& key, std::string_view message,
                   const Ed25519Signature& signature) {
    const Pkey pkey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    MdCtx ctx = NewMdCtx();
    if (!pkey || !ctx) return false;
    if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) return false;
    return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

std::optional<Ed25519Signature> SignEd25519(const Ed25519Seed& seed, std::string_view message) {
    const Pkey pkey(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
    MdCtx ctx = NewMdCtx();
    if (!pkey || !ctx) return std::nullopt;
    if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return std::nullopt;
    Ed25519Signature signature{};
    size_t length = signature.size();
    if (EVP_DigestSign(ctx.get(), signature.data(), &length,
                       reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1 ||
        length != signature.size())
        return std::nullopt;
    return signature;
}

std::optional<Ed25519PublicKey> Ed25519PublicFromSeed(const Ed25519Seed& seed) {
    const Pkey pkey(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
    Ed25519PublicKey key{};
    size_t length = key.size();
    if (!pkey || EVP_PKEY_get_raw_public_key(pkey.get(), key.data(), &length) != 1 ||
        length != key.size())
        return std::nullopt;
    return key;
}

bool RandomBytes(uint8_t* data, size_t size) {
    while (size > 0) {
        const int n = static_cast<int>(std::min<size_t>(size, INT_MAX));
        if (RAND_bytes(data, n) != 1) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace toval
