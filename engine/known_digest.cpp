#include "engine/known_digest.h"

#include "platform/file_handle.h"
#include "platform/file_identity.h"

namespace toval {

std::optional<InstalledDigest> KnownDigest(HashCache& cache, const std::string& path) {
    const FileHandle file = FileHandle::Open(path, OpenFor::Read);
    const std::optional<IdentifiedFile> now = IdentifyFile(file);
    if (!now) return std::nullopt;
    const Sha256Digest* digest = cache.Find(now->Identity);
    if (!digest) return std::nullopt;
    return InstalledDigest{now->Identity, *digest};
}

}  // namespace toval
