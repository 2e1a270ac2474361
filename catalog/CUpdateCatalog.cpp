#include "catalog/CUpdateCatalog.h"

#include <array>
#include <limits>
#include <optional>
#include <vector>

#include "catalog/XmlReader.h"
#include "catalog/catalog_reader.h"
#include "catalog/entry_probe.h"
#include "catalog/file_probe.h"
#include "catalog/hash_cache.h"

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

// Whether the file of a signed entry is out of date: as unsigned, and besides when its bytes
// differ from those the signature pins, whatever its length and time say. The hash is the one
// the cache knows for the file's identity, or the file's own, read once and remembered.
bool OutdatedOrNotItsBytes(const CFileEntry& entry, HashCache& cache,
                           std::vector<uint8_t>& buffer) {
    const std::optional<Sha256Digest> wanted = DigestOfHex(entry.Sha256);
    const LocalFile file(entry.FullPath, LocalFile::WithIdentity{});
    if (!wanted || !file.IsOpen() || file.Size() != entry.Length || OlderThanListed(entry, file))
        return true;
    if (const Sha256Digest* known = cache.Find(file.Identity())) return *known != *wanted;
    const std::optional<Sha256Digest> actual = HashLocalFile(file, buffer);
    if (!actual) return true;
    cache.Add(file.Identity(), *actual);
    return *actual != *wanted;
}

}  // namespace

CUpdateCatalog::CUpdateCatalog() : CUpdateCatalog(BaseDirectories::FromSystem()) {}

CUpdateCatalog::CUpdateCatalog(BaseDirectories dirs) : Dirs(std::move(dirs)) {}

void CUpdateCatalog::Clear() {
    MirrorOrigins.clear();
    Entries.clear();
}

bool CUpdateCatalog::Load(const std::string& path) {
    Clear();
    XmlReader reader;
    return reader.OpenFile(path) &&
           ReadCatalogEntries(reader, Dirs, Entries, kMaxCatalogEntries, &MirrorOrigins);
}

bool CUpdateCatalog::LoadBytes(std::string_view bytes) {
    Clear();
    XmlReader reader;
    return reader.OpenMemory(bytes) &&
           ReadCatalogEntries(reader, Dirs, Entries, kMaxCatalogEntries, &MirrorOrigins);
}

uint32_t CUpdateCatalog::RetainOutdated(bool signedMode, const std::string& stateDir) {
    std::optional<HashCache> cache;
    std::vector<uint8_t> buffer;
    if (signedMode) cache = HashCache::Load(stateDir);
    uint32_t kept = 0;
    for (auto it = Entries.begin(); it != Entries.end();) {
        CFileEntry& entry = **it;
        // Length and time or version let a file of the right length pass whatever its bytes; a
        // signed hash is the bytes, so a damaged file, or a client's newer copy of a file the
        // publisher replaced (a rotated keys file), is replaced too.
        const bool outdated =
            !cache ? CheckNeedsUpdate(entry)
                   : (entry.NeedsUpdate =
                          entry.NeedsUpdate || (!entry.FullPath.empty() &&
                                                OutdatedOrNotItsBytes(entry, *cache, buffer)));
        if (outdated) {
            ++kept;
            ++it;
            continue;
        }
        it = Entries.erase(it);
    }
    if (cache) cache->Save();
    return kept;
}

uint64_t CUpdateCatalog::OutdatedLength() {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    uint64_t total = 0;
    for (const auto& entry : Entries) {
        if (!entry->NeedsUpdate) continue;
        // A catalogue can claim absurd lengths; the total stops at the top instead of wrapping
        // to a small figure.
        total = entry->Length > kMax - total ? kMax : total + entry->Length;
    }
    return total;
}

std::unique_ptr<CFileEntry> CUpdateCatalog::TakeFirst() {
    if (Entries.empty()) return nullptr;
    std::unique_ptr<CFileEntry> front = std::move(Entries.front());
    Entries.pop_front();
    return front;
}

bool CUpdateCatalog::AllEntries(const std::function<bool(const CFileEntry&)>& test) const {
    for (const auto& entry : Entries)
        if (!test(*entry)) return false;
    return true;
}

uint32_t CUpdateCatalog::Count() { return static_cast<uint32_t>(Entries.size()); }

}  // namespace toval
