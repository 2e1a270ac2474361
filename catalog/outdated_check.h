#pragma once
// The decision whether one listed file needs the update, taken for every file of a check: from a
// single look at the file, opening it only for its version resource or, in signed mode, for a
// hash the cache does not know.

#include <cstdint>
#include <vector>

#include "catalog/CFileEntry.h"
#include "catalog/client_files.h"
#include "catalog/hash_cache.h"

namespace toval {

// True when the file of `entry` (which has a FullPath) is out of date: missing, not a readable
// regular file, of another length, older by version or else by time; with a `cache` (signed
// mode) also when its bytes are not those of the entry's Sha256, or it has none. The hashes
// read are added to the cache; `buffer` is kept for the next file.
bool ListedFileOutdated(const CFileEntry& entry, ClientFiles& files, HashCache* cache,
                        std::vector<uint8_t>& buffer);

}  // namespace toval
