#pragma once
// The slowest a server may send and still be waited for. A body that trickles (a few bytes now
// and then) would otherwise hold the run for days; a link that is slow but real must still get
// through, including one whose bytes come in bursts.

#include <chrono>
#include <cstdint>

namespace toval {

class RateFloor {
  public:
    using Clock = std::chrono::steady_clock;

    // At least `bytesPerSecond` averaged over `window`; the first window after a connection is
    // longer by `grace`. A zero window or rate turns the floor off.
    RateFloor(uint64_t bytesPerSecond, std::chrono::milliseconds window,
              std::chrono::milliseconds grace);

    // A request goes out: what comes back is measured from now, with the grace on top the first
    // time (a new connection's handshake and slow start, a server that takes a while to begin).
    void Restart(Clock::time_point now);
    void Arrived(uint64_t bytes, Clock::time_point now);
    // The transfer held itself back for `pause` (the player's rate cap): the server is not
    // blamed for it.
    void Paused(std::chrono::milliseconds pause);
    // Time left before the current window ends short of its bytes; zero once it has, and the
    // largest duration when the floor is off.
    std::chrono::milliseconds Left(Clock::time_point now) const;

  private:
    const uint64_t WindowBytes;  // what a whole window must bring
    const std::chrono::milliseconds Window;
    const std::chrono::milliseconds Grace;
    bool GraceUsed = false;
    // A window restarts whenever it has its bytes, so it can only run out on a server that
    // brought fewer in a whole window: bursts and pauses average out within it.
    Clock::time_point Deadline = Clock::time_point::max();  // none before a connection
    uint64_t Bytes = 0;
};

}  // namespace toval
