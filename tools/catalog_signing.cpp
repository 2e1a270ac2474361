#include "tools/catalog_signing.h"

#include <ctime>
#include <iostream>
#include <optional>

#include "catalog/catalogue_trust.h"
#include "catalog/minisign.h"
#include "platform/file_handle.h"
#include "platform/file_read.h"

namespace toval::catalog_tool {

namespace {

// A key file holds one key; anything much larger is not one.
constexpr uint64_t kKeyFileMaxBytes = 64 << 10;

}  // namespace

bool WriteNewFile(const std::string& path, std::string_view text, uint32_t mode) {
    FileHandle file = FileHandle::Open(path, OpenFor::CreateNew, mode);
    if (!file.IsOpen()) return false;
    // Set through the handle as well, whatever the umask took away.
    bool ok = file.SetMode(mode) && file.WriteAll(text.data(), text.size());
    ok = file.Close() && ok;
    if (!ok) RemoveFile(path);
    return ok;
}

Stop Keygen(const std::string& base) {
    const std::string pubPath = base + ".pub";
    const std::string keyPath = base + ".key";
    for (const std::string& path : {pubPath, keyPath}) {
        if (ExaminePath(path).Kind != PathKind::Missing)
            return Failed(path + ": exists; remove it first");
    }
    const std::optional<minisign::SecretKey> key = minisign::GenerateSecretKey();
    if (!key) return Failed("no key could be made");
    const std::string id = minisign::KeyIdHex(key->Id);
    const auto secret = minisign::WriteSecretKey(*key, "toval-catalog secret key " + id);
    const auto pub = minisign::WritePublicKey({key->Id, key->Public}, "minisign public key " + id);
    if (!secret || !pub) return Failed("no key could be made");
    // The secret key is readable by its owner alone from its first byte on.
    if (!WriteNewFile(keyPath, *secret, 0600)) return Failed(keyPath + ": cannot be written");
    if (!WriteNewFile(pubPath, *pub, 0644)) {
        RemoveFile(keyPath);
        return Failed(pubPath + ": cannot be written");
    }
    std::cout << "key " << id << ": public " << pubPath << ", secret " << keyPath << "\n";
    return {};
}

Stop SignCatalogue(const Options& options, std::string_view bytes, const std::string& name,
                   std::string& signature) {
    const std::optional<std::string> keyText = ReadSmallFile(*options.SignKey, kKeyFileMaxBytes);
    if (!keyText) return Failed(*options.SignKey + ": cannot be read");
    const std::optional<minisign::SecretKey> key = minisign::ParseSecretKey(*keyText);
    if (!key) {
        return Failed(*options.SignKey +
                      ": not an unencrypted minisign secret key (make one with --keygen or "
                      "minisign -G -W)");
    }
    const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
    const uint64_t serial = options.Serial.value_or(now);
    const uint64_t expires = now + options.ExpiresDays * 86400;
    const std::string trusted =
        "timestamp:" + std::to_string(now) + "\tfile:" + name +
        "\tserial:" + std::to_string(serial) + "\texpires:" + std::to_string(expires) +
        "\tfor:" + CatalogueTarget(options.Product, options.Channel.value_or(""));
    const std::optional<std::string> text =
        minisign::SignFile(*key, bytes, trusted, "signature from toval-catalog secret key");
    if (!text) return Failed("the catalogue could not be signed");
    signature = *text;
    return {};
}

}  // namespace toval::catalog_tool
