#pragma once
// The records of the catalogue being processed, with the base directories of the macros. It belongs
// to the update run and is used on the run's thread only, so it takes no lock.

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/CFileEntry.h"
#include "catalog/hash_cache.h"
#include "catalog/install_path.h"
#include "platform/crypto.h"

namespace toval {

// No real catalogue comes near this (100,000 files take 58 MB); a download past it is not a
// catalogue, and must not fill the temporary directory.
inline constexpr uint64_t kCatalogueMaxBytes = 256ull << 20;

class CUpdateCatalog {
  public:
    // Reads the base directories once, from the system.
    CUpdateCatalog();
    explicit CUpdateCatalog(BaseDirectories dirs);
    CUpdateCatalog(const CUpdateCatalog&) = delete;
    CUpdateCatalog& operator=(const CUpdateCatalog&) = delete;

    void Clear();
    // Clears, then reads the catalogue file at `path`; false, and empty, when it is not a
    // readable catalogue. Entries whose paths would leave their base directory are dropped.
    bool Load(const std::string& path);
    // The same for a catalogue already in memory: the bytes whose signature was checked are the
    // bytes read.
    bool LoadBytes(std::string_view bytes);
    // Load and LoadBytes for the updater's run: the records are taken from what the state
    // directory `stateDir` keeps for these very bytes when it has it, and kept there after a
    // parse otherwise.
    bool Load(const std::string& path, const std::string& stateDir);
    bool LoadBytes(std::string_view bytes, const std::string& stateDir);
    // LoadBytes with a state directory in two steps, for bytes that must be checked before
    // anything is parsed from them: the records kept for exactly these bytes, when the state
    // directory has them (Loaded), and the key to keep a parse under otherwise.
    struct KeptRecords {
        std::optional<Sha256Digest> Key;  // the bytes' SHA-256; none when it could not be had
        bool Loaded = false;
    };
    KeptRecords LoadKeptRecords(std::string_view bytes, const std::string& stateDir);
    // Parses the bytes and keeps their records under `kept.Key`.
    bool ParseAndKeep(std::string_view bytes, const std::string& stateDir, const KeptRecords& kept);
    // Keeps the entries whose files need an update, in order; returns how many. Length and
    // version or time decide; in signed mode, where the signature pins every entry's Sha256, a
    // file whose bytes differ from it needs an update too: signed mode is given the run's hash
    // cache, which answers for files it knows and learns the hashes of files read on the way
    // (the caller saves it).
    uint32_t RetainOutdated(HashCache* signedHashes = nullptr);
    // What a check of every file's bytes found.
    struct Verified {
        uint32_t Checked = 0;  // files of the right length hashed against their Sha256
        uint32_t Damaged = 0;  // of those, the ones whose bytes differ, now marked NeedsUpdate
    };
    // Hashes afresh, on every core, each listed file that the catalogue gives a Sha256 for,
    // whatever its length, time or the cache say (a changed byte shows in none of them); marks
    // the ones whose bytes differ for an update and refreshes `hashes` with what it read.
    Verified VerifyBytes(HashCache& hashes);
    // Sum of Length over the entries marked NeedsUpdate; stops at UINT64_MAX instead of wrapping.
    uint64_t OutdatedLength();
    // The front entry, handed over; null when empty.
    std::unique_ptr<CFileEntry> TakeFirst();
    uint32_t Count();
    // True when `test` holds for every entry.
    bool AllEntries(const std::function<bool(const CFileEntry&)>& test) const;
    // True when every entry gives a well-formed Sha256; known without a look at the entries
    // when they are the records kept from the parse.
    bool EveryEntryHashed() const;

    const BaseDirectories& Directories() const { return Dirs; }
    // The servers the catalogue read last names as mirrors of its files, in its order.
    const std::vector<std::string>& Mirrors() const { return MirrorOrigins; }

  private:
    // The rest of Load and LoadBytes with a state directory, once the bytes' hash is known.
    bool TakeKept(const std::string& stateDir, const std::optional<Sha256Digest>& key);
    bool ParseThenKeep(const std::string& stateDir, const std::optional<Sha256Digest>& key,
                       const std::function<bool()>& parse);

    std::vector<std::string> MirrorOrigins;
    std::list<std::unique_ptr<CFileEntry>> Entries;
    std::optional<bool> Hashed;  // EveryEntryHashed, when the kept records or a parse told
    BaseDirectories Dirs;
};

}  // namespace toval
