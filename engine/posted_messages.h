#pragma once
// The queue between the transfers' worker threads and the thread that runs the update: messages
// go in from any thread and come out on the run's thread in the order they were posted. Every
// loop that hosts a run (the windows, the console, the tests' host) keeps its messages here.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace toval {

class ITransfer;

struct PostedMessage {
    uint32_t Id = 0;
    uint32_t WParam = 0;
    ITransfer* LParam = nullptr;
};

class PostedMessages {
  public:
    // Any thread. True when the loop should be woken: no wake-up is on its way yet. One wake-up
    // at a time, however many messages wait, so a system queue with a limit of its own (Windows
    // keeps 10,000 posted messages a thread) never fills with them.
    bool Push(const PostedMessage& message);
    // The loop has woken: a later Push wakes it again. Returns how many messages wait now; a
    // loop that hands out only those leaves the ones that keep coming to its next turn, behind
    // its timers and paints.
    size_t TakeWakeUp();
    // The wake-up could not be delivered: the next Push, or the loop's own tick, tries again.
    void WakeUpLost();
    // True when a wake-up should be sent for messages still waiting.
    bool NeedsWakeUp();

    std::optional<PostedMessage> Pop();
    // Waits until a message is queued or `deadline` has passed; false when none is.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);
    void Clear();

  private:
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<PostedMessage> Queue;
    bool WakePending = false;
};

}  // namespace toval
