#pragma once
// The size and last-write time of an open file, read in one look at the handle, so that what the
// probe compares belongs to the very file it opened (not to whatever the path names a moment
// later).

#include <cstdint>
#include <optional>

#include "platform/file_handle.h"
#include "platform/win_types.h"

namespace toval {

struct FileStamp {
    uint64_t Size = 0;
    FILETIME LastWrite{};  // 100-ns units since 1601-01-01 UTC, as Windows keeps it
};

// Nothing when the handle is closed, is not a regular file, or cannot be examined.
std::optional<FileStamp> StampOf(const FileHandle& file);

}  // namespace toval
