#pragma once
// A file created beside another under a name no one else uses: where a file is written whole
// before it is renamed over the one it replaces.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file_handle.h"

namespace toval {

// Creates "<path>.XXXXXX" (six random letters or digits) exclusively, with `mode` where the
// system has modes, and opens it into `file`; its path, or nothing when none could be created.
std::optional<std::string> CreateFileBeside(const std::string& path, FileHandle& file,
                                            uint32_t mode = 0600);

}  // namespace toval
