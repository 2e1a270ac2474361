#include "catalog/minisign.h"

#include <algorithm>
#include <cstring>

namespace toval::minisign {

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment:";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::string_view kLegacyAlgorithm = "Ed";
constexpr std::string_view kPrehashedAlgorithm = "ED";
constexpr std::string_view kChecksumAlgorithm = "B2";

// The secret key block: algorithm, key derivation algorithm, checksum algorithm, the derivation's
// salt, operations and memory limits, then the key id, the secret key (seed and public key) and
// the checksum.
constexpr size_t kSaltBytes = 32;
constexpr size_t kLimitBytes = 8;
constexpr size_t kSecretHeaderBytes = 2 + 2 + 2 + kSaltBytes + 2 * kLimitBytes;
constexpr size_t kSecretBytes = kSecretHeaderBytes + 8 + 64 + 32;

// The lines of a file, each without its line break ("\n" or "\r\n"); a final line break does not
// start another line.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool OneLine(std::string_view comment) {
    return comment.find_first_of("\r\n") == std::string_view::npos;
}

template <size_t N>
void Take(std::array<uint8_t, N>& out, std::string_view& from) {
    std::memcpy(out.data(), from.data(), N);
    from.remove_prefix(N);
}

template <size_t N>
void Put(std::string& to, const std::array<uint8_t, N>& bytes) {
    to.append(reinterpret_cast<const char*>(bytes.data()), N);
}

std::string_view View(const auto& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::optional<PublicKey> ParsePublicKeyLine(std::string_view line) {
    const auto bytes = Base64Decode(line);
    if (!bytes || bytes->size() != 2 + 8 + 32) return std::nullopt;
    std::string_view rest = *bytes;
    if (!rest.starts_with(kLegacyAlgorithm)) return std::nullopt;
    rest.remove_prefix(2);
    PublicKey key;
    Take(key.Id, rest);
    Take(key.Key, rest);
    return key;
}

Blake2b256Digest SecretChecksum(const SecretKey& key) {
    std::string covered(kLegacyAlgorithm);
    Put(covered, key.Id);
    Put(covered, key.Seed);
    Put(covered, key.Public);
    return Blake2b256(covered);
}

}  // namespace

std::string KeyIdHex(const KeyId& id) {
    KeyId reversed;
    std::reverse_copy(id.begin(), id.end(), reversed.begin());
    std::string hex = ToHex(reversed.data(), reversed.size());
    std::transform(hex.begin(), hex.end(), hex.begin(),
                   [](char c) { return c >= 'a' && c <= 'f' ? char(c - 'a' + 'A') : c; });
    return hex;
}

std::optional<KeyId> ParseKeyIdHex(std::string_view hex) {
    // Parsed through the 32-byte form, whose digits it shares.
    if (hex.size() != 16) return std::nullopt;
    const auto padded = ParseSha256Hex(std::string(hex) + std::string(48, '0'));
    if (!padded) return std::nullopt;
    KeyId id;
    std::reverse_copy(padded->begin(), padded->begin() + 8, id.begin());
    return id;
}

std::optional<std::vector<PublicKey>> ParseTrustedKeys(std::string_view text) {
    std::vector<PublicKey> keys;
    for (const std::string_view line : Lines(text)) {
        if (line.empty() || line.starts_with(kUntrustedPrefix)) continue;
        const auto key = ParsePublicKeyLine(line);
        if (!key) return std::nullopt;
        const auto same = std::find_if(keys.begin(), keys.end(),
                                       [&](const PublicKey& k) { return k.Id == key->Id; });
        if (same == keys.end()) {
            keys.push_back(*key);
        } else if (same->Key != key->Key) {
            return std::nullopt;
        }
    }
    if (keys.empty()) return std::nullopt;
    return keys;
}

std::optional<std::string> WritePublicKey(const PublicKey& key, std::string_view untrustedComment) {
    if (!OneLine(untrustedComment)) return std::nullopt;
    std::string bytes(kLegacyAlgorithm);
    Put(bytes, key.Id);
    Put(bytes, key.Key);
    return std::string(kUntrustedPrefix) + " " + std::string(untrustedComment) + "\n" +
           Base64Encode(bytes) + "\n";
}

std::optional<Signature> ParseSignature(std::string_view text) {
    const auto lines = Lines(text);
    if (lines.size() != 4 || !lines[0].starts_with(kUntrustedPrefix) ||
        !lines[2].starts_with(kTrustedPrefix))
        return std::nullopt;
    const auto main = Base64Decode(lines[1]);
    const auto global = Base64Decode(lines[3]);
    if (!main || main->size() != 2 + 8 + 64 || !global || global->size() != 64) return std::nullopt;

    Signature signature;
    std::string_view rest = *main;
    const std::string_view algorithm = rest.substr(0, 2);
    if (algorithm != kPrehashedAlgorithm && algorithm != kLegacyAlgorithm) return std::nullopt;
    signature.Prehashed = algorithm == kPrehashedAlgorithm;
    rest.remove_prefix(2);
    Take(signature.Id, rest);
    Take(signature.FileSignature, rest);
    signature.TrustedComment = lines[2].substr(kTrustedPrefix.size());
    rest = *global;
    Take(signature.GlobalSignature, rest);
    return signature;
}

Verification VerifyCatalogueSignature(const std::vector<PublicKey>& keys,
                                      std::string_view fileBytes, std::string_view signatureText) {
    Verification verification;
    const auto signature = ParseSignature(signatureText);
    if (!signature) return verification;
    const auto key = std::find_if(keys.begin(), keys.end(),
                                  [&](const PublicKey& k) { return k.Id == signature->Id; });
    if (key == keys.end()) {
        verification.Result = VerifyResult::UnknownKey;
        return verification;
    }
    std::optional<Blake2b512Digest> digest;
    if (signature->Prehashed) {
        digest = Blake2b512(fileBytes);
        if (!digest) {
            verification.Result = VerifyResult::BadSignature;
            return verification;
        }
    }
    if (!VerifyEd25519(key->Key, digest ? View(*digest) : fileBytes, signature->FileSignature)) {
        verification.Result = VerifyResult::BadSignature;
        return verification;
    }
    // The trusted comment is bound to this very signature, so it cannot be moved to another file.
    const std::string global =
        std::string(View(signature->FileSignature)) + signature->TrustedComment;
    if (!VerifyEd25519(key->Key, global, signature->GlobalSignature)) {
        verification.Result = VerifyResult::BadGlobalSignature;
        return verification;
    }
    verification.Result = VerifyResult::Ok;
    verification.Id = signature->Id;
    verification.TrustedComment = signature->TrustedComment;
    return verification;
}

std::optional<std::string> SignFile(const SecretKey& key, std::string_view bytes,
                                    std::string_view trustedComment,
                                    std::string_view untrustedComment) {
    if (!OneLine(trustedComment) || !OneLine(untrustedComment)) return std::nullopt;
    const auto digest = Blake2b512(bytes);
    if (!digest) return std::nullopt;
    const auto fileSignature = SignEd25519(key.Seed, View(*digest));
    if (!fileSignature) return std::nullopt;
    const auto globalSignature =
        SignEd25519(key.Seed, std::string(View(*fileSignature)) + std::string(trustedComment));
    if (!globalSignature) return std::nullopt;

    std::string main(kPrehashedAlgorithm);
    Put(main, key.Id);
    Put(main, *fileSignature);
    std::string global;
    Put(global, *globalSignature);
    return std::string(kUntrustedPrefix) + " " + std::string(untrustedComment) + "\n" +
           Base64Encode(main) + "\n" + std::string(kTrustedPrefix) + std::string(trustedComment) +
           "\n" + Base64Encode(global) + "\n";
}

std::optional<SecretKey> ParseSecretKey(std::string_view text) {
    const auto lines = Lines(text);
    if (lines.size() != 2 || !lines[0].starts_with(kUntrustedPrefix)) return std::nullopt;
    const auto bytes = Base64Decode(lines[1]);
    if (!bytes || bytes->size() != kSecretBytes) return std::nullopt;
    std::string_view rest = *bytes;
    // Only an unencrypted key (no key derivation) can be used without asking for a password.
    if (rest.substr(0, 2) != kLegacyAlgorithm || rest.substr(2, 2) != std::string_view("\0\0", 2) ||
        rest.substr(4, 2) != kChecksumAlgorithm)
        return std::nullopt;
    rest.remove_prefix(kSecretHeaderBytes);
    SecretKey key;
    Blake2b256Digest checksum;
    Take(key.Id, rest);
    Take(key.Seed, rest);
    Take(key.Public, rest);
    Take(checksum, rest);
    // minisign 0.11 leaves the checksum of an unencrypted key zero; the public half, which must be
    // the seed's, still shows a damaged key.
    if (checksum != Blake2b256Digest{} && checksum != SecretChecksum(key)) return std::nullopt;
    if (Ed25519PublicFromSeed(key.Seed) != key.Public) return std::nullopt;
    return key;
}

std::optional<std::string> WriteSecretKey(const SecretKey& key, std::string_view untrustedComment) {
    if (!OneLine(untrustedComment)) return std::nullopt;
    std::string bytes(kLegacyAlgorithm);
    bytes.append(2, '\0');  // no key derivation: the key is stored as it is
    bytes.append(kChecksumAlgorithm);
    bytes.append(kSaltBytes + 2 * kLimitBytes, '\0');
    Put(bytes, key.Id);
    Put(bytes, key.Seed);
    Put(bytes, key.Public);
    Put(bytes, SecretChecksum(key));
    return std::string(kUntrustedPrefix) + " " + std::string(untrustedComment) + "\n" +
           Base64Encode(bytes) + "\n";
}

std::optional<SecretKey> GenerateSecretKey() {
    const auto pair = GenerateEd25519();
    SecretKey key;
    if (!pair || !RandomBytes(key.Id.data(), key.Id.size())) return std::nullopt;
    key.Seed = pair->Seed;
    key.Public = pair->Public;
    return key;
}

}  // namespace toval::minisign
