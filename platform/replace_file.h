#pragma once
// Replacing a small state file so that, after a crash or a power loss, it holds either its old or
// its new content, never a part or nothing.

#include <string>
#include <string_view>

namespace toval {

enum class Durability {
    // Synced before and after the rename: once true is returned, the new content survives a
    // power loss.
    Synced,
    // Not waited for: a crash soon after may bring the old content back. For what costs little
    // to lose (a cache), or what is written too often to pay two syncs each time.
    Unsynced,
};

// Writes `content` beside `path`, renames it over `path` and, when Synced, syncs the file and
// the directory; false (and nothing left beside) when any step fails. `path` names a file in an
// existing directory.
bool ReplaceFileWith(const std::string& path, std::string_view content,
                     Durability durability = Durability::Synced);

}  // namespace toval
