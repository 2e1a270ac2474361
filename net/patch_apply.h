#pragma once
// Applying a patch made by toval-catalog: a zstd frame whose prefix is the old version of the
// file. Source, patch and result are mapped, never read onto the heap, so a file of several GiB
// costs the page cache, not the updater's memory.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/crypto.h"

namespace toval {

struct PatchOutput {
    std::string Path;
    uint64_t Length = 0;   // the result must have exactly this many bytes
    bool Replace = false;  // an existing file at Path is overwritten; else it must not exist
    uint32_t Mode = 0;     // when non-zero, the result's mode
    bool Sync = false;     // the result is on the disk before this returns
};

// Writes what the patch at `patchPath` makes of the file at `sourcePath` and gives the result's
// SHA-256; nothing, and no file left at out.Path, when the source or the patch cannot be read,
// the patch is damaged, was made for another source or gives another length, or the result
// cannot be written (a full disk included).
std::optional<Sha256Digest> ApplyPatch(const std::string& sourcePath, const std::string& patchPath,
                                       const PatchOutput& out);

}  // namespace toval
