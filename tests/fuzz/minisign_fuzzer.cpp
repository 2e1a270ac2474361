// Feeds arbitrary bytes to the signature, key and trusted-comment parsers, and checks what they
// accept: base64 has one encoding per byte string, keys and comments survive being written and
// read again, and a signature over the fixed message verifies only when both its signatures do.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalogue_trust.h"
#include "catalog/minisign.h"
#include "platform/crypto.h"

namespace {

namespace ms = toval::minisign;

// The key that signed the seeds sig_prehashed.minisig and sig_legacy.minisig over kMessage.
constexpr std::string_view kTrustedKey =
    "untrusted comment: minisign public key DAFEBE5AF536797A\n"
    "RWR6eTb1Wr7+2rlk+ZQ0fO1xe1vJR3rP9ftpbM+uLRLJg3gcvUAxKAcx\n";
constexpr std::string_view kMessage = "fuzz";

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

std::vector<ms::PublicKey> TrustedKeys() {
    const auto keys = ms::ParseTrustedKeys(kTrustedKey);
    Check(keys && keys->size() == 1);
    return *keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const std::vector<ms::PublicKey> trusted = TrustedKeys();
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (const auto bytes = toval::Base64Decode(text)) Check(toval::Base64Encode(*bytes) == text);

    if (const auto keys = ms::ParseTrustedKeys(text)) {
        Check(!keys->empty());
        for (const ms::PublicKey& key : *keys) {
            const auto again = ms::ParseTrustedKeys(ms::WritePublicKey(key, "again").value());
            Check(again && again->size() == 1 && again->front().Id == key.Id &&
                  again->front().Key == key.Key);
        }
    }

    if (const auto key = ms::ParseSecretKey(text)) {
        const auto again = ms::ParseSecretKey(ms::WriteSecretKey(*key, "again").value());
        Check(again && again->Id == key->Id && again->Seed == key->Seed &&
              again->Public == key->Public);
    }

    const auto signature = ms::ParseSignature(text);
    const ms::Verification verification = ms::VerifyCatalogueSignature(trusted, kMessage, text);
    Check((verification.Result == ms::VerifyResult::Malformed) == !signature);
    if (verification.Result == ms::VerifyResult::Ok) {
        Check(verification.Id == trusted.front().Id &&
              verification.TrustedComment == signature->TrustedComment);
    }

    const toval::TrustedCommentValues values = toval::ParseTrustedComment(text);
    if (values.Status == toval::TrustedCommentStatus::Ok) {
        const toval::TrustedCommentValues again =
            toval::ParseTrustedComment("expires:" + std::to_string(values.Expires) +
                                       " serial:" + std::to_string(values.Serial));
        Check(again.Status == toval::TrustedCommentStatus::Ok && again.Serial == values.Serial &&
              again.Expires == values.Expires);
    }
    return 0;
}
