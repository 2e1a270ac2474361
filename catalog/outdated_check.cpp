#include "catalog/outdated_check.h"

#include <array>
#include <optional>
#include <string_view>

#include "catalog/entry_probe.h"
#include "catalog/file_probe.h"

namespace toval {

namespace {

// The catalogue's hexadecimal Sha256 as bytes, either case; nothing for anything else. Done by
// table, as a check of a large client decodes one per file.
std::optional<Sha256Digest> DigestOfHex(std::string_view hex) {
    static constexpr std::array<int8_t, 256> kValue = [] {
        std::array<int8_t, 256> value{};
        value.fill(-1);
        for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<int8_t>(i);
        for (int i = 0; i < 6; ++i) value['a' + i] = value['A' + i] = static_cast<int8_t>(10 + i);
        return value;
    }();
    Sha256Digest out;
    if (hex.size() != 2 * out.size()) return std::nullopt;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int high = kValue[static_cast<uint8_t>(hex[2 * i])];
        const int low = kValue[static_cast<uint8_t>(hex[2 * i + 1])];
        if (high < 0 || low < 0) return std::nullopt;
        out[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return out;
}

// The whole decision on one handle, opened by path: for a file that changed between the look
// and its opening, whose hash must be remembered under the identity of the bytes read.
bool OutdatedByItsHandle(const CFileEntry& entry, const Sha256Digest& wanted, HashCache& cache,
                         std::vector<uint8_t>& buffer) {
    const LocalFile file(entry.FullPath, LocalFile::WithIdentity{});
    if (!file.IsOpen() || file.Size() != entry.Length || OlderThanListed(entry, file)) return true;
    if (const Sha256Digest* known = cache.Find(file.Identity())) return *known != wanted;
    const std::optional<Sha256Digest> actual = HashLocalFile(file, buffer);
    if (!actual) return true;
    cache.Add(file.Identity(), *actual);
    return *actual != wanted;
}

}  // namespace

bool ListedFileOutdated(const CFileEntry& entry, ClientFiles& files, HashCache* cache,
                        std::vector<uint8_t>& buffer) {
    std::optional<Sha256Digest> wanted;
    if (cache && !(wanted = DigestOfHex(entry.Sha256))) return true;
    std::optional<ClientFiles::Found> found = files.Look(entry.FullPath);
    if (!found || found->File.Known.Stamp.Size != entry.Length) return true;
    const IdentifiedFile known = found->File.Known;
    // Opened at most once, for the version, the hash or both.
    std::optional<LocalFile> opened;
    const auto open = [&]() -> const LocalFile& {
        if (!opened) opened.emplace(found->Open(), known);
        return *opened;
    };
    if (entry.FileVersion.empty()) {
        if (OlderByTime(entry, known.Stamp.LastWrite)) return true;
    } else if (!open().IsOpen() || OlderThanListed(entry, *opened)) {
        return true;
    }
    if (!cache) return false;
    if (const Sha256Digest* digest = cache->Find(known.Identity)) return *digest != *wanted;
    // The bytes about to be read must be those of the file looked at, or their hash would be
    // kept under another file's identity.
    const LocalFile& file = open();
    const std::optional<IdentifiedFile> now = file.IdentifyNow();
    if (!now || now->Identity != known.Identity)
        return OutdatedByItsHandle(entry, *wanted, *cache, buffer);
    const std::optional<Sha256Digest> actual = HashLocalFile(file, buffer);
    if (!actual) return true;
    cache->Add(known.Identity, *actual);
    return *actual != *wanted;
}

}  // namespace toval
