#pragma once
// minisign's key and signature files, so that a publisher signs the catalogue with the ordinary
// minisign program (or toval-catalog) and the updater checks it against the keys it trusts.
// Everything works on the files' text; reading and writing the files is the caller's.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"

namespace toval::minisign {

// As stored in the files; minisign shows it as the little-endian number in upper-case hex.
using KeyId = std::array<uint8_t, 8>;
std::string KeyIdHex(const KeyId& id);
std::optional<KeyId> ParseKeyIdHex(std::string_view hex);

struct PublicKey {
    KeyId Id{};
    Ed25519PublicKey Key{};
};

struct SecretKey {
    KeyId Id{};
    Ed25519Seed Seed{};
    Ed25519PublicKey Public{};
};

struct Signature {
    bool Prehashed = true;  // signs BLAKE2b-512 of the file ("ED") rather than the file ("Ed")
    KeyId Id{};
    Ed25519Signature FileSignature{};
    std::string TrustedComment;
    Ed25519Signature GlobalSignature{};  // over FileSignature followed by TrustedComment
};

// Every key of a trusted-keys file: key lines, each optionally after its "untrusted comment:"
// line; blank lines are allowed. Nothing when any other line is there, no key is, or one key id
// stands for two different keys.
std::optional<std::vector<PublicKey>> ParseTrustedKeys(std::string_view text);
// Nothing when the comment holds a line break, as for the writers below.
std::optional<std::string> WritePublicKey(const PublicKey& key, std::string_view untrustedComment);

std::optional<Signature> ParseSignature(std::string_view text);

enum class VerifyResult { Ok, Malformed, UnknownKey, BadSignature, BadGlobalSignature };
struct Verification {
    VerifyResult Result = VerifyResult::Malformed;
    KeyId Id{};                  // when Ok
    std::string TrustedComment;  // when Ok
};
// Both signatures must hold, made with the trusted key whose id the signature names.
Verification VerifyCatalogueSignature(const std::vector<PublicKey>& keys,
                                      std::string_view fileBytes, std::string_view signatureText);

// A signature file over `bytes` (prehashed); nothing when a comment holds a line break or
// libcrypto fails.
std::optional<std::string> SignFile(const SecretKey& key, std::string_view bytes,
                                    std::string_view trustedComment,
                                    std::string_view untrustedComment);

// An unencrypted secret key file, as `minisign -G -W` writes it. Nothing for an encrypted key, a
// wrong checksum, or a public half that is not the seed's.
std::optional<SecretKey> ParseSecretKey(std::string_view text);
std::optional<std::string> WriteSecretKey(const SecretKey& key, std::string_view untrustedComment);
// A new key pair with a random id.
std::optional<SecretKey> GenerateSecretKey();

}  // namespace toval::minisign
