#pragma once
// The player's cap on the updater's download rate (--max-rate): one budget shared by every
// transfer that runs at once, so that the whole updater, not each transfer, stays within it.

#include <chrono>
#include <cstdint>
#include <mutex>

namespace toval {

class RateCap {
  public:
    explicit RateCap(uint64_t bytesPerSecond);
    RateCap(const RateCap&) = delete;
    RateCap& operator=(const RateCap&) = delete;

    uint64_t BytesPerSecond() const { return Rate; }

    // A transfer has received `bytes` at `now`: when the whole updater is back within its rate.
    // The transfer holds its receiving until then (never blocking the thread that receives for
    // every transfer); the minimum-rate watch does not count that time against the server.
    std::chrono::steady_clock::time_point Reserve(uint64_t bytes,
                                                  std::chrono::steady_clock::time_point now);

  private:
    const uint64_t Rate;
    std::mutex Lock;
    // When the bytes taken so far may all have been received at the rate.
    std::chrono::steady_clock::time_point Due{};
};

}  // namespace toval
