// The player's cap is one budget for all transfers together, and never holds a cancelled one.
// (How close a real download keeps to it is measured against nginx in bench/ratecap.)

#include "net/rate_cap.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace toval {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(RateCap, TransfersAtOnceShareOneBudget) {
    RateCap cap(512 * 1024);
    std::stop_source never;
    const auto begun = Clock::now();
    std::vector<std::thread> transfers;
    for (int t = 0; t < 4; ++t) {
        transfers.emplace_back([&] {
            for (int i = 0; i < 16; ++i) cap.Take(8 * 1024, never.get_token());
        });
    }
    for (std::thread& t : transfers) t.join();
    // 512 KiB at 512 KiB/s: a second, less the short burst an idle budget allows.
    EXPECT_GE(Clock::now() - begun, milliseconds(750));
}

TEST(RateCap, ACancelEndsTheWaitAtOnce) {
    RateCap cap(1024);
    std::stop_source stop;
    std::thread canceller([&] {
        std::this_thread::sleep_for(milliseconds(50));
        stop.request_stop();
    });
    const auto begun = Clock::now();
    cap.Take(10 * 1024 * 1024, stop.get_token());
    EXPECT_LT(Clock::now() - begun, milliseconds(5000));
    canceller.join();
}

}  // namespace
}  // namespace toval
