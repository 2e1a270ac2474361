#include "platform/file_time.h"

#include <limits>

namespace toval {

namespace {
constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kNanosecondsPerTick = 100;
}  // namespace

FILETIME FileTimeFromTimespec(const timespec& ts) {
    // 128-bit arithmetic: a far-future or corrupt tv_sec must clamp, not wrap.
    __int128 seconds = static_cast<__int128>(ts.tv_sec) + kFileTimeUnixEpochSeconds;
    __int128 nanoseconds = ts.tv_nsec;
    // Floor division keeps a negative tv_nsec (never produced by stat) from rounding upwards.
    __int128 ticks = seconds * kTicksPerSecond;
    ticks += nanoseconds >= 0 ? nanoseconds / kNanosecondsPerTick
                              : -((-nanoseconds + kNanosecondsPerTick - 1) / kNanosecondsPerTick);
    if (ticks < 0) return FileTimeFromU64(0);
    if (ticks > static_cast<__int128>(std::numeric_limits<uint64_t>::max()))
        return FileTimeFromU64(std::numeric_limits<uint64_t>::max());
    return FileTimeFromU64(static_cast<uint64_t>(ticks));
}

timespec TimespecFromFileTime(const FILETIME& ft) {
    const uint64_t ticks = FileTimeToU64(ft);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ticks / kTicksPerSecond) -
                static_cast<time_t>(kFileTimeUnixEpochSeconds);
    ts.tv_nsec = static_cast<long>(ticks % kTicksPerSecond) * kNanosecondsPerTick;
    return ts;
}

}  // namespace toval
