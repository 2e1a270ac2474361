#pragma once
// Patches made the way the publisher's tool makes them, and bytes to make them from.

#include <zstd.h>

#include <memory>
#include <optional>
#include <random>
#include <string>

#include "platform/crypto.h"

namespace toval::test {

// `to` compressed with `from` as its prefix, its length and checksum in the frame.
inline std::string MakePatch(const std::string& from, const std::string& to) {
    const std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> c(ZSTD_createCCtx(), ZSTD_freeCCtx);
    std::string out(ZSTD_compressBound(to.size()), '\0');
    if (!c || ZSTD_isError(ZSTD_CCtx_setParameter(c.get(), ZSTD_c_windowLog, 24)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(c.get(), ZSTD_c_checksumFlag, 1)) ||
        ZSTD_isError(ZSTD_CCtx_refPrefix(c.get(), from.data(), from.size())))
        return {};
    const size_t n = ZSTD_compress2(c.get(), out.data(), out.size(), to.data(), to.size());
    out.resize(ZSTD_isError(n) ? 0 : n);
    return out;
}

// Bytes that do not repeat, so that a patch can only take them from its source.
inline std::string Noise(size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

inline std::optional<Sha256Digest> DigestOf(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes);
    return hash.Final();
}

inline std::string HexDigestOf(const std::string& bytes) {
    const std::optional<Sha256Digest> digest = DigestOf(bytes);
    return ToHex(digest->data(), digest->size());
}

}  // namespace toval::test
