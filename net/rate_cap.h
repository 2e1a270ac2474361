#pragma once
// The player's cap on the updater's download rate (--max-rate): one budget shared by every
// transfer that runs at once, so that the whole updater, not each transfer, stays within it.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <stop_token>

namespace toval {

class RateCap {
  public:
    explicit RateCap(uint64_t bytesPerSecond);
    RateCap(const RateCap&) = delete;
    RateCap& operator=(const RateCap&) = delete;

    uint64_t BytesPerSecond() const { return Rate; }

    // A transfer has received `bytes`: waits, on the transfer's own worker thread, until the
    // whole updater is back within its rate; returns at once when `stop` is requested. Returns
    // how long it waited, which the minimum-rate watch does not count against the server.
    std::chrono::milliseconds Take(uint64_t bytes, const std::stop_token& stop);

  private:
    const uint64_t Rate;
    std::mutex Lock;
    // When the bytes taken so far may all have been received at the rate.
    std::chrono::steady_clock::time_point Due{};
};

}  // namespace toval
