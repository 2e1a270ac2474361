#include "engine/posted_messages.h"

namespace toval {

bool PostedMessages::Push(const PostedMessage& message) {
    bool wake = false;
    {
        std::lock_guard guard(Lock);
        Queue.push_back(message);
        wake = !WakePending;
        WakePending = true;
    }
    Changed.notify_one();
    return wake;
}

size_t PostedMessages::TakeWakeUp() {
    std::lock_guard guard(Lock);
    WakePending = false;
    return Queue.size();
}

void PostedMessages::WakeUpLost() {
    std::lock_guard guard(Lock);
    WakePending = false;
}

bool PostedMessages::NeedsWakeUp() {
    std::lock_guard guard(Lock);
    if (WakePending || Queue.empty()) return false;
    WakePending = true;
    return true;
}

std::optional<PostedMessage> PostedMessages::Pop() {
    std::lock_guard guard(Lock);
    if (Queue.empty()) return std::nullopt;
    const PostedMessage message = Queue.front();
    Queue.pop_front();
    return message;
}

bool PostedMessages::WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(Lock);
    return Changed.wait_until(lock, deadline, [this] { return !Queue.empty(); });
}

void PostedMessages::Clear() {
    std::lock_guard guard(Lock);
    Queue.clear();
    WakePending = false;
}

}  // namespace toval
