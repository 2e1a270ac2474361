#pragma once
// Writing a file that another thread reads back (FileHandle::ReadAt) while it grows.

#include <cstddef>
#include <cstdint>

#include "platform/file_handle.h"

namespace toval {

// Writes all of `data` at `offset`, which must be where the writes before it ended; false on any
// failure. Linux reads at an offset without touching the file's position, so this is a plain
// write at the position there. On Windows a read at an offset moves the handle's one position
// (the reader's and the writer's), so the write names its offset instead.
bool WriteAllAt(FileHandle& file, const void* data, size_t size, uint64_t offset);

}  // namespace toval
