#include "catalog/CUpdateCatalog.h"

#include <limits>
#include <optional>
#include <vector>

#include "catalog/XmlReader.h"
#include "catalog/catalog_reader.h"
#include "catalog/client_files.h"
#include "catalog/file_probe.h"
#include "catalog/hash_cache.h"
#include "catalog/outdated_check.h"
#include "catalog/parsed_catalogue.h"

namespace toval {

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

bool CUpdateCatalog::Load(const std::string& path, const std::string& stateDir) {
    // Hashed as it is read, a piece at a time: a catalogue runs to tens of megabytes.
    std::vector<uint8_t> buffer;
    const LocalFile file(path);
    return LoadKept(stateDir, HashLocalFile(file, buffer), [&] { return Load(path); });
}

bool CUpdateCatalog::LoadBytes(std::string_view bytes, const std::string& stateDir) {
    Sha256 hash;
    hash.Update(bytes);
    return LoadKept(stateDir, hash.Final(), [&] { return LoadBytes(bytes); });
}

bool CUpdateCatalog::LoadKept(const std::string& stateDir, const std::optional<Sha256Digest>& key,
                              const std::function<bool()>& parse) {
    Clear();
    if (key && !stateDir.empty()) {
        if (std::optional<ParsedCatalogue> kept = LoadParsedCatalogue(stateDir, *key, Dirs)) {
            Entries = std::move(kept->Entries);
            MirrorOrigins = std::move(kept->Mirrors);
            return true;
        }
    }
    if (!parse()) return false;
    if (key && !stateDir.empty()) KeepParsedCatalogue(stateDir, *key, Dirs, Entries, MirrorOrigins);
    return true;
}

uint32_t CUpdateCatalog::RetainOutdated(bool signedMode, const std::string& stateDir) {
    std::optional<HashCache> cache;
    std::vector<uint8_t> buffer;
    if (signedMode) cache = HashCache::Load(stateDir);
    // One look per file, each directory opened once for all of its files.
    ClientFiles files;
    uint32_t kept = 0;
    for (auto it = Entries.begin(); it != Entries.end();) {
        CFileEntry& entry = **it;
        // Length and time or version let a file of the right length pass whatever its bytes; a
        // signed hash is the bytes, so a damaged file, or a client's newer copy of a file the
        // publisher replaced (a rotated keys file), is replaced too. An entry without a local
        // path has no file to bring up to date.
        entry.NeedsUpdate = entry.NeedsUpdate ||
                            (!entry.FullPath.empty() &&
                             ListedFileOutdated(entry, files, cache ? &*cache : nullptr, buffer));
        if (entry.NeedsUpdate) {
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
