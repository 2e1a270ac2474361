#pragma once
// The permissions a downloaded file gets before it is renamed into place.

#include <cstdint>

#include "catalog/CFileEntry.h"

namespace toval {

// The mode bits for `file`'s new copy; 0 leaves the system's default (and on Windows, which has
// no such bits, it is always 0).
uint32_t FileModeFor(const CFileEntry& file);

}  // namespace toval
