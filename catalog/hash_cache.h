#pragma once
// What the updater knows of its files' SHA-256, kept in the state directory ("hashes") between
// runs, so that a check of a current client reads no file's bytes again. A hash is keyed by the
// file's identity (device, index, size, modification and change times): a file changed in any way
// has another identity and is hashed anew. The file is a header and fixed-size records, each with
// a check of its own, read in one go; a damaged or foreign file is ignored and written anew.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"
#include "platform/file_handle.h"
#include "platform/file_identity.h"

namespace toval {

class HashCache {
  public:
    // The cache kept in `stateDir`; an empty one, marked for writing, when there is none or it is
    // damaged. An empty `stateDir` keeps nothing.
    static HashCache Load(const std::string& stateDir);

    // The hash known for `identity`, or null. Cheapest when asked in the order of the last Save.
    const Sha256Digest* Find(const FileIdentity& identity);
    void Add(const FileIdentity& identity, const Sha256Digest& digest);
    // Writes the hashes found or added since Load, and only those, in the order they were asked
    // for, when the file on disk says anything else (other, stale or reordered records, damage).
    // False when it could not be written.
    bool Save();

    // How many hashes it holds.
    std::size_t Size() const { return Records.size(); }

  private:
    struct Record {
        FileIdentity Identity;
        Sha256Digest Digest{};
    };
    std::size_t Slot(const FileIdentity& identity) const;
    void Index(uint32_t record);
    void Use(uint32_t record);

    std::string StateDir;
    std::vector<Record> Records;  // as read, then those added
    // Where the next question is expected: a check asks in catalogue order, which is the order
    // of the last Save, so a warm check walks the records without hashing an identity.
    std::size_t Cursor = 0;
    // An open-addressed table of record number + 1, built at the first question out of order.
    std::vector<uint32_t> Slots;
    std::vector<uint32_t> Order;  // the records asked for or added, in that order
    std::vector<bool> Used;
    bool InOrder = true;   // Order is 0, 1, 2, ... so far
    bool Changed = false;  // added to, or what was on disk was damaged
};

// Adds the hashes of files just installed to the cache in `stateDir`, so that the next check
// need not read them; the cache stays open from one file to the next (a run installs many).
class InstalledHashes {
  public:
    explicit InstalledHashes(std::string stateDir) : StateDir(std::move(stateDir)) {}

    // `sha256Hex` is what the download of the file now at `path` was verified against. Nothing
    // happens without a hash, or when the file or the cache cannot be had (the next check
    // hashes the file itself). False in those cases.
    bool Record(const std::string& path, std::string_view sha256Hex);

  private:
    bool OpenCache();

    std::string StateDir;
    FileHandle Cache;
    bool Unusable = false;  // the cache could not be opened or looked damaged: left alone
};

}  // namespace toval
