#pragma once
// Patches for the updater: the new version of a file compressed by zstd with the old version as
// its prefix, so that what the two share costs next to nothing.

#include <cstdint>
#include <string>
#include <string_view>

namespace toval {

// zstd's window reaches 2 GiB back. A byte of the new file finds its old counterpart about one
// old file's length back, so an old file up to a little under that can be patched from.
inline constexpr uint64_t kMaxPatchSource = (1ull << 31) - (64ull << 20);

enum class PatchMade {
    Written,
    // Not worth listing: it would not come out shorter than the limit, or the old file is too
    // large to patch from. Nothing is left at the path.
    NotWorthIt,
    Failed,
};

// Writes the patch that turns `from` into `to` to `path` (replacing it in one step) when it comes
// out shorter than `limit` bytes; the reason in `error` when it fails.
PatchMade MakePatch(std::string_view from, std::string_view to, const std::string& path,
                    uint64_t limit, std::string& error);

}  // namespace toval
