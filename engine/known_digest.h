#pragma once
// The installed file's SHA-256 as the updater's hash cache keeps it, for choosing a patch
// without reading a large file again.

#include <optional>
#include <string>

#include "catalog/hash_cache.h"
#include "net/transfer.h"

namespace toval {

// What `cache` knows of the file now at `path`, with the identity it was taken of; nothing when
// the file cannot be opened or the cache does not know it as it is.
std::optional<InstalledDigest> KnownDigest(HashCache& cache, const std::string& path);

}  // namespace toval
