#pragma once
// Last-write times as Windows FILETIMEs, so that catalogue time stamps compare with disk ones.

#include <ctime>
#include <string>

#include "platform/win_types.h"

namespace toval {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kFileTimeUnixEpochSeconds = 11644473600ull;

// Nanoseconds are kept to the 100-ns tick (truncated). Times before 1601 clamp to 0.
FILETIME FileTimeFromTimespec(const timespec& ts);
timespec TimespecFromFileTime(const FILETIME& ft);

// Status 0 and `out` set from the file's st_mtim, or LastErrorStatus() when the file cannot be
// opened for reading.
int32_t ReadLastWriteTime(const std::string& path, FILETIME& out);

}  // namespace toval
