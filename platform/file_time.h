#pragma once
// Last-write times as Windows FILETIMEs, so that catalogue time stamps compare with disk ones.

#include <ctime>

#include "platform/win_types.h"

namespace toval {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kFileTimeUnixEpochSeconds = 11644473600ull;

// Nanoseconds are kept to the 100-ns tick (truncated). Times before 1601 clamp to 0.
FILETIME FileTimeFromTimespec(const timespec& ts);
timespec TimespecFromFileTime(const FILETIME& ft);

}  // namespace toval
