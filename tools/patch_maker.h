#pragma once
// Patches for the updater: the new version of a file compressed by zstd with the old version as
// its prefix, so that what the two share costs next to nothing.

#include <cstdint>
#include <string>
#include <string_view>

namespace toval {

// Files up to this size (old and new together) can be patched: zstd's window reaches 2 GiB.
inline constexpr uint64_t kMaxPatchedBytes = 1ull << 31;

// Writes the patch that turns `from` into `to` to `path` (replacing it in one step); false,
// with the reason in `error`, when it cannot.
bool MakePatch(std::string_view from, std::string_view to, const std::string& path,
               std::string& error);

}  // namespace toval
