#include "net/rate_floor.h"

#include <algorithm>

namespace toval {

namespace {
// What a whole window must bring; 0 when the floor is off.
uint64_t BytesPerWindow(uint64_t bytesPerSecond, std::chrono::milliseconds window) {
    if (bytesPerSecond == 0 || window.count() <= 0) return 0;
    const auto ms = static_cast<uint64_t>(window.count());
    return std::max<uint64_t>(1, bytesPerSecond / 1000 * ms + bytesPerSecond % 1000 * ms / 1000);
}
}  // namespace

RateFloor::RateFloor(uint64_t bytesPerSecond, std::chrono::milliseconds window,
                     std::chrono::milliseconds grace)
    : WindowBytes(BytesPerWindow(bytesPerSecond, window)),
      Window(window),
      Grace(std::max(grace, std::chrono::milliseconds(0))) {}

void RateFloor::Restart(Clock::time_point now) {
    Deadline = now + Window + (GraceUsed ? std::chrono::milliseconds(0) : Grace);
    GraceUsed = true;
    Bytes = 0;
}

void RateFloor::Arrived(uint64_t bytes, Clock::time_point now) {
    Bytes += bytes;
    if (Bytes < WindowBytes) return;
    Deadline = now + Window;
    Bytes = 0;
}

void RateFloor::Paused(std::chrono::milliseconds pause) {
    if (Deadline != Clock::time_point::max() && pause.count() > 0) Deadline += pause;
}

std::chrono::milliseconds RateFloor::Left(Clock::time_point now) const {
    if (WindowBytes == 0) return std::chrono::milliseconds::max();
    if (now >= Deadline) return std::chrono::milliseconds(0);
    // Rounded up, so that a caller sleeping this long finds the window over.
    return std::chrono::ceil<std::chrono::milliseconds>(Deadline - now);
}

}  // namespace toval
