#include "catalog/outdated_check.h"

#include <optional>
#include <string_view>

#include "catalog/entry_probe.h"
#include "catalog/file_probe.h"

namespace toval {

namespace {

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
    if (cache && !(wanted = ParseSha256Hex(entry.Sha256))) return true;
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
