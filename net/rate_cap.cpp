#include "net/rate_cap.h"

#include <algorithm>

namespace toval {

namespace {
// An idle budget saves up no more than this, so a pause never buys a flood after it, while
// the transfers' reads, which come in blocks, do not each wait for a block's worth of time.
constexpr auto kBurst = std::chrono::milliseconds(200);
}  // namespace

RateCap::RateCap(uint64_t bytesPerSecond) : Rate(std::max<uint64_t>(bytesPerSecond, 1)) {}

std::chrono::steady_clock::time_point RateCap::Reserve(uint64_t bytes,
                                                       std::chrono::steady_clock::time_point now) {
    using Clock = std::chrono::steady_clock;
    std::lock_guard guard(Lock);
    Due = std::max(Due, now - kBurst);
    Due += std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(Rate)));
    return Due;
}

}  // namespace toval
