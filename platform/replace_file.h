#pragma once
// Replacing a small state file so that, after a crash or a power loss, it holds either its old or
// its new content, never a part or nothing.

#include <string>
#include <string_view>

namespace toval {

// Writes `content` beside `path`, syncs it, renames it over `path` and syncs the directory;
// false (and nothing left beside) when any step fails. `path` names a file in an existing
// directory.
bool ReplaceFileWith(const std::string& path, std::string_view content);

}  // namespace toval
