#include "catalog/hash_cache.h"

#include <cstring>
#include <optional>

#include "platform/file_handle.h"
#include "platform/file_read.h"
#include "platform/replace_file.h"

namespace toval {

namespace {

// Also names the layout: a cache written by any other layout is foreign and rebuilt.
constexpr char kMagic[8] = {'T', 'V', 'H', 'A', 'S', 'H', '0', '1'};
constexpr std::size_t kIdentityWords = 5;
constexpr std::size_t kDigestWords = sizeof(Sha256Digest) / 8;
constexpr std::size_t kRecordWords = kIdentityWords + kDigestWords + 1;  // the check last
constexpr std::size_t kRecordBytes = kRecordWords * 8;
// Twice the largest catalogue, for the records installs append between two checks; a larger
// file is not one this updater wrote.
constexpr uint64_t kMaxRecords = 1000000;

std::string CachePath(const std::string& stateDir) { return stateDir + "/hashes"; }

uint64_t Mix(uint64_t h, uint64_t word) {
    h = (h ^ word) * 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

void IdentityWords(const FileIdentity& id, uint64_t (&out)[kRecordWords]) {
    out[0] = id.Device;
    out[1] = id.Index;
    out[2] = id.Size;
    out[3] = id.Written;
    out[4] = id.Changed;
}

// The record's check: damage anywhere in it (a torn write, a flipped bit) shows.
uint64_t Check(const uint64_t (&words)[kRecordWords]) {
    uint64_t h = 0x746f76616c686173ull;
    for (std::size_t i = 0; i + 1 < kRecordWords; ++i) h = Mix(h, words[i]);
    return h;
}

void AppendRecord(std::string& out, const FileIdentity& id, const Sha256Digest& digest) {
    uint64_t words[kRecordWords];
    IdentityWords(id, words);
    std::memcpy(&words[kIdentityWords], digest.data(), digest.size());
    words[kRecordWords - 1] = Check(words);
    out.append(reinterpret_cast<const char*>(words), sizeof words);
}

bool LooksWhole(uint64_t size) {
    return size >= sizeof kMagic && (size - sizeof kMagic) % kRecordBytes == 0;
}

}  // namespace

std::size_t HashCache::Slot(const FileIdentity& identity) const {
    uint64_t words[kRecordWords];
    IdentityWords(identity, words);
    uint64_t h = 0;
    for (std::size_t i = 0; i < kIdentityWords; ++i) h = Mix(h, words[i]);
    return static_cast<std::size_t>(h) & (Slots.size() - 1);
}

void HashCache::Index(uint32_t record) {
    std::size_t slot = Slot(Records[record].Identity);
    while (Slots[slot] != 0 && Records[Slots[slot] - 1].Identity != Records[record].Identity)
        slot = (slot + 1) & (Slots.size() - 1);
    Slots[slot] = record + 1;  // a later record of one identity (an install's) wins
}

void HashCache::Use(uint32_t record) {
    if (Used[record]) return;
    Used[record] = true;
    InOrder = InOrder && record == Order.size();
    Order.push_back(record);
}

HashCache HashCache::Load(const std::string& stateDir) {
    HashCache cache;
    cache.StateDir = stateDir;
    if (stateDir.empty()) return cache;
    cache.Changed = true;  // until the file proves whole
    const std::optional<std::string> bytes =
        ReadSmallFile(CachePath(stateDir), sizeof kMagic + kMaxRecords * kRecordBytes);
    if (!bytes || !LooksWhole(bytes->size()) ||
        std::memcmp(bytes->data(), kMagic, sizeof kMagic) != 0)
        return cache;
    const std::size_t count = (bytes->size() - sizeof kMagic) / kRecordBytes;
    cache.Records.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        uint64_t words[kRecordWords];
        std::memcpy(words, bytes->data() + sizeof kMagic + i * kRecordBytes, kRecordBytes);
        if (words[kRecordWords - 1] != Check(words)) {
            cache.Records.clear();
            return cache;
        }
        Record& record = cache.Records[i];
        record.Identity = {words[0], words[1], words[2], words[3], words[4]};
        std::memcpy(record.Digest.data(), &words[kIdentityWords], record.Digest.size());
    }
    cache.Used.assign(count, false);
    cache.Changed = false;
    return cache;
}

const Sha256Digest* HashCache::Find(const FileIdentity& identity) {
    std::size_t found = Records.size();
    if (Cursor < Records.size() && Records[Cursor].Identity == identity) {
        found = Cursor;
    } else {
        if (Slots.empty() && !Records.empty()) {
            std::size_t size = 16;
            while (size < 2 * Records.size()) size *= 2;
            Slots.assign(size, 0);
            for (uint32_t i = 0; i < Records.size(); ++i) Index(i);
        }
        if (!Slots.empty()) {
            for (std::size_t slot = Slot(identity); Slots[slot] != 0;
                 slot = (slot + 1) & (Slots.size() - 1)) {
                if (Records[Slots[slot] - 1].Identity == identity) {
                    found = Slots[slot] - 1;
                    break;
                }
            }
        }
    }
    if (found == Records.size()) return nullptr;
    Cursor = found + 1;
    Use(static_cast<uint32_t>(found));
    return &Records[found].Digest;
}

void HashCache::Add(const FileIdentity& identity, const Sha256Digest& digest) {
    const auto record = static_cast<uint32_t>(Records.size());
    Records.push_back({identity, digest});
    Used.push_back(false);
    if (!Slots.empty()) {
        if (2 * Records.size() > Slots.size()) {
            Slots.assign(Slots.size() * 2, 0);
            for (uint32_t i = 0; i < Records.size(); ++i) Index(i);
        } else {
            Index(record);
        }
    }
    Use(record);
    Changed = true;
}

bool HashCache::Save() {
    if (StateDir.empty()) return false;
    // A warm check of a current client asked for every record, in order, and added none.
    if (!Changed && InOrder && Order.size() == Records.size()) return true;
    std::string bytes(kMagic, sizeof kMagic);
    bytes.reserve(sizeof kMagic + Order.size() * kRecordBytes);
    for (const uint32_t i : Order) AppendRecord(bytes, Records[i].Identity, Records[i].Digest);
    // A run killed half way leaves the old cache or the new one, and a cache lost to a power
    // loss is only rebuilt: no sync is worth its wait.
    return ReplaceFileWith(CachePath(StateDir), bytes, Durability::Unsynced);
}

bool InstalledHashes::OpenCache() {
    if (Cache.IsOpen()) return true;
    if (Unusable || StateDir.empty()) return false;
    Unusable = true;
    const std::string cachePath = CachePath(StateDir);
    Cache = FileHandle::Open(cachePath, OpenFor::Update);
    if (Cache.IsOpen()) {
        // Appended only to a cache that looks whole; the next check rebuilds any other.
        const std::optional<uint64_t> size = Cache.RegularSize();
        char head[sizeof kMagic];
        if (!size || !LooksWhole(*size) ||
            Cache.ReadAt(head, sizeof head, 0) != static_cast<int64_t>(sizeof head) ||
            std::memcmp(head, kMagic, sizeof kMagic) != 0 || !Cache.Resize(*size)) {
            Cache.Close();
            return false;
        }
    } else {
        Cache = FileHandle::Open(cachePath, OpenFor::CreateNew, 0644);
        if (!Cache.WriteAll(kMagic, sizeof kMagic)) {
            Cache.Close();
            return false;
        }
    }
    Unusable = false;
    return true;
}

bool InstalledHashes::Record(const std::string& path, std::string_view sha256Hex) {
    const std::optional<Sha256Digest> digest = ParseSha256Hex(sha256Hex);
    if (!digest) return false;
    const std::optional<IdentifiedFile> installed =
        IdentifyFile(FileHandle::Open(path, OpenFor::Read));
    if (!installed || !OpenCache()) return false;
    std::string record;
    AppendRecord(record, installed->Identity, *digest);
    if (Cache.WriteAll(record.data(), record.size())) return true;
    // A record written in part would make the file look damaged: the next check rebuilds it.
    Cache.Close();
    Unusable = true;
    return false;
}

}  // namespace toval
