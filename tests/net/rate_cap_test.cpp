// The player's cap is one budget for all transfers together, and saves up no flood while idle.
// (How close a real download keeps to it is measured against nginx in bench/ratecap.)

#include "net/rate_cap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace toval {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(RateCap, TransfersAtOnceShareOneBudget) {
    RateCap cap(512 * 1024);
    const auto begun = Clock::now();
    std::vector<std::thread> transfers;
    std::vector<Clock::time_point> last(4);
    for (int t = 0; t < 4; ++t) {
        transfers.emplace_back([&, t] {
            for (int i = 0; i < 16; ++i) last[t] = cap.Reserve(8 * 1024, Clock::now());
        });
    }
    for (std::thread& t : transfers) t.join();
    // 512 KiB at 512 KiB/s: a second, less the short burst an idle budget allows.
    EXPECT_GE(*std::max_element(last.begin(), last.end()) - begun, milliseconds(750));
}

TEST(RateCap, AnIdleBudgetSavesUpNoFlood) {
    RateCap cap(1024);
    const auto now = Clock::now();
    cap.Reserve(1024, now - std::chrono::hours(1));
    // An hour idle buys a fifth of a second's worth, not an hour's.
    EXPECT_GT(cap.Reserve(1024, now), now + milliseconds(700));
}

}  // namespace
}  // namespace toval
