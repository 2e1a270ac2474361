#include "catalog/hash_cache.h"

#include <cstring>
#include <optional>

#include "platform/file_handle.h"
#include "platform/file_read.h"

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

std::size_t HashCache::IdentityHash::operator()(const FileIdentity& id) const {
    uint64_t words[kRecordWords];
    IdentityWords(id, words);
    uint64_t h = 0;
    for (std::size_t i = 0; i < kIdentityWords; ++i) h = Mix(h, words[i]);
    return static_cast<std::size_t>(h);
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
    cache.Known.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        uint64_t words[kRecordWords];
        std::memcpy(words, bytes->data() + sizeof kMagic + i * kRecordBytes, kRecordBytes);
        if (words[kRecordWords - 1] != Check(words)) {
            cache.Known.clear();
            return cache;
        }
        Entry entry;
        std::memcpy(entry.Digest.data(), &words[kIdentityWords], entry.Digest.size());
        // A later record (an install appended it) wins.
        cache.Known.insert_or_assign(FileIdentity{words[0], words[1], words[2], words[3], words[4]},
                                     entry);
    }
    cache.RecordsOnDisk = count;
    cache.Changed = false;
    return cache;
}

const Sha256Digest* HashCache::Find(const FileIdentity& identity) {
    const auto it = Known.find(identity);
    if (it == Known.end()) return nullptr;
    if (!it->second.Used) {
        it->second.Used = true;
        ++Used;
    }
    return &it->second.Digest;
}

void HashCache::Add(const FileIdentity& identity, const Sha256Digest& digest) {
    Entry& entry = Known[identity];
    entry.Digest = digest;
    if (!entry.Used) {
        entry.Used = true;
        ++Used;
    }
    Changed = true;
}

bool HashCache::Save() {
    if (StateDir.empty()) return false;
    // A warm check of a current client found every record and added none: nothing to write.
    if (!Changed && Used == RecordsOnDisk) return true;
    std::string bytes(kMagic, sizeof kMagic);
    bytes.reserve(sizeof kMagic + Used * kRecordBytes);
    for (const auto& [identity, entry] : Known)
        if (entry.Used) AppendRecord(bytes, identity, entry.Digest);
    // Written whole beside it and renamed over it: a run killed half way leaves the old cache
    // or the new one, and a torn one would only be rebuilt.
    const std::string path = CachePath(StateDir), temp = path + ".new";
    FileHandle file = FileHandle::Open(temp, OpenFor::Create, 0644);
    const bool written = file.WriteAll(bytes.data(), bytes.size()) && file.Close();
    if (written && RenameOver(temp, path)) {
        RecordsOnDisk = Used;
        Changed = false;
        return true;
    }
    RemoveFile(temp);
    return false;
}

bool RecordInstalledHash(const std::string& stateDir, const std::string& path,
                         std::string_view sha256Hex) {
    const std::optional<Sha256Digest> digest = ParseSha256Hex(sha256Hex);
    if (stateDir.empty() || !digest) return false;
    const std::optional<IdentifiedFile> installed =
        IdentifyFile(FileHandle::Open(path, OpenFor::Read));
    if (!installed) return false;
    const std::string cachePath = CachePath(stateDir);
    FileHandle cache = FileHandle::Open(cachePath, OpenFor::Update);
    if (cache.IsOpen()) {
        // Appended only to a cache that looks whole; the next check rebuilds any other.
        const std::optional<uint64_t> size = cache.RegularSize();
        char head[sizeof kMagic];
        if (!size || !LooksWhole(*size) ||
            cache.ReadAt(head, sizeof head, 0) != static_cast<int64_t>(sizeof head) ||
            std::memcmp(head, kMagic, sizeof kMagic) != 0 || !cache.Resize(*size))
            return false;
    } else {
        cache = FileHandle::Open(cachePath, OpenFor::CreateNew, 0644);
        if (!cache.WriteAll(kMagic, sizeof kMagic)) return false;
    }
    std::string record;
    AppendRecord(record, installed->Identity, *digest);
    return cache.WriteAll(record.data(), record.size()) && cache.Close();
}

}  // namespace toval
