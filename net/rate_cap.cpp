#include "net/rate_cap.h"

#include <algorithm>
#include <condition_variable>

namespace toval {

namespace {
// An idle budget saves up no more than this, so a pause never buys a flood after it, while
// the transfers' reads, which come in blocks, do not each wait for a block's worth of time.
constexpr auto kBurst = std::chrono::milliseconds(200);
}  // namespace

RateCap::RateCap(uint64_t bytesPerSecond) : Rate(std::max<uint64_t>(bytesPerSecond, 1)) {}

std::chrono::milliseconds RateCap::Take(uint64_t bytes, const std::stop_token& stop) {
    using Clock = std::chrono::steady_clock;
    const auto now = Clock::now();
    Clock::time_point wakeAt;
    {
        std::lock_guard guard(Lock);
        Due = std::max(Due, now - kBurst);
        Due += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(Rate)));
        wakeAt = Due;
    }
    if (wakeAt <= now) return std::chrono::milliseconds(0);
    std::mutex mutex;
    std::unique_lock lock(mutex);
    std::condition_variable_any woken;
    woken.wait_until(lock, stop, wakeAt, [] { return false; });
    return std::chrono::ceil<std::chrono::milliseconds>(std::min(Clock::now(), wakeAt) - now);
}

}  // namespace toval
