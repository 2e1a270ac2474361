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
    Hashed.reset();
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
    const std::optional<Sha256Digest> key = HashLocalFile(file, buffer);
    return TakeKept(stateDir, key) || ParseThenKeep(stateDir, key, [&] { return Load(path); });
}

bool CUpdateCatalog::LoadBytes(std::string_view bytes, const std::string& stateDir) {
    const KeptRecords kept = LoadKeptRecords(bytes, stateDir);
    return kept.Loaded || ParseAndKeep(bytes, stateDir, kept);
}

CUpdateCatalog::KeptRecords CUpdateCatalog::LoadKeptRecords(std::string_view bytes,
                                                            const std::string& stateDir) {
    KeptRecords kept;
    kept.Key = Sha256Of(bytes);
    kept.Loaded = TakeKept(stateDir, kept.Key);
    return kept;
}

bool CUpdateCatalog::ParseAndKeep(std::string_view bytes, const std::string& stateDir,
                                  const KeptRecords& kept) {
    return ParseThenKeep(stateDir, kept.Key, [&] { return LoadBytes(bytes); });
}

bool CUpdateCatalog::TakeKept(const std::string& stateDir, const std::optional<Sha256Digest>& key) {
    Clear();
    if (!key || stateDir.empty()) return false;
    std::optional<ParsedCatalogue> kept = LoadParsedCatalogue(stateDir, *key, Dirs);
    if (!kept) return false;
    Entries = std::move(kept->Entries);
    MirrorOrigins = std::move(kept->Mirrors);
    Hashed = kept->EveryEntryHashed;
    return true;
}

bool CUpdateCatalog::ParseThenKeep(const std::string& stateDir,
                                   const std::optional<Sha256Digest>& key,
                                   const std::function<bool()>& parse) {
    if (!parse()) return false;
    if (!key || stateDir.empty()) return true;
    Hashed = EveryEntryHashed();
    KeepParsedCatalogue(stateDir, *key, Dirs, Entries, MirrorOrigins, *Hashed);
    return true;
}

uint32_t CUpdateCatalog::RetainOutdated(HashCache* signedHashes) {
    std::vector<uint8_t> buffer;
    // One look per file, each directory opened once for all of its files.
    ClientFiles files;
    uint32_t kept = 0;
    for (auto it = Entries.begin(); it != Entries.end();) {
        CFileEntry& entry = **it;
        // Length and time or version let a file of the right length pass whatever its bytes; a
        // signed hash is the bytes, so a damaged file, or a client's newer copy of a file the
        // publisher replaced (a rotated keys file), is replaced too. An entry without a local
        // path has no file to bring up to date.
        entry.NeedsUpdate =
            entry.NeedsUpdate ||
            (!entry.FullPath.empty() && ListedFileOutdated(entry, files, signedHashes, buffer));
        if (entry.NeedsUpdate) {
            ++kept;
            ++it;
            continue;
        }
        it = Entries.erase(it);
    }
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

bool CUpdateCatalog::EveryEntryHashed() const {
    if (Hashed) return *Hashed;
    return AllEntries([](const CFileEntry& e) { return ParseSha256Hex(e.Sha256).has_value(); });
}

uint32_t CUpdateCatalog::Count() { return static_cast<uint32_t>(Entries.size()); }

}  // namespace toval
