#pragma once
// The transfers' message channel for tests: a real thread-safe queue that the test thread drains
// the way the run's loop does, taking the coalesced progress with each progress message.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "net/CInetFile.h"
#include "net/messages.h"

namespace toval::test {

struct PostedMessage {
    uint32_t Message = 0;
    uint32_t WParam = 0;
    ITransfer* LParam = nullptr;
};

// What a receiver saw of one transfer, up to and including its completion.
struct DrainedTransfer {
    bool Completed = false;
    int32_t Code = -1;
    uint32_t CompleteWParam = 0;
    uint64_t ProgressBytes = 0;  // sum of TakeProgress over the progress messages
    size_t ProgressMessages = 0;
    uint32_t FirstChunk = 0;  // low word of the first progress message
};

class RecordingSink : public IMessageSink {
  public:
    void Post(uint32_t message, uint32_t wParam, ITransfer* lParam) override {
        {
            std::lock_guard lock(Mutex);
            Queue.push_back({message, wParam, lParam});
        }
        Posted.notify_all();
    }

    std::optional<PostedMessage> Next(std::chrono::milliseconds timeout) {
        std::unique_lock lock(Mutex);
        if (!Posted.wait_for(lock, timeout, [&] { return !Queue.empty(); })) return std::nullopt;
        PostedMessage m = Queue.front();
        Queue.pop_front();
        return m;
    }

    size_t Pending() {
        std::lock_guard lock(Mutex);
        return Queue.size();
    }

    // Handles messages until the completion arrives or `timeout` has passed in all: a transfer
    // that keeps reporting a byte now and then must not keep a test waiting without end.
    // `onProgress` runs for every progress message, after its bytes were taken.
    template <typename F>
    DrainedTransfer Drain(std::chrono::milliseconds timeout, F onProgress) {
        DrainedTransfer d;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        const auto left = [&] {
            return std::max(std::chrono::milliseconds(0),
                            std::chrono::duration_cast<std::chrono::milliseconds>(
                                deadline - std::chrono::steady_clock::now()));
        };
        while (auto m = Next(left())) {
            if (m->Message == WM_DOWNLOAD_PROGRESS) {
                if (d.ProgressMessages++ == 0) d.FirstChunk = LowWord(m->WParam);
                d.ProgressBytes += m->LParam->TakeProgress();
                onProgress(*m);
            } else if (m->Message == WM_DOWNLOAD_COMPLETE) {
                d.Completed = true;
                d.CompleteWParam = m->WParam;
                d.Code = static_cast<int32_t>(LowWord(m->WParam));
                break;
            }
        }
        return d;
    }
    DrainedTransfer Drain(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return Drain(timeout, [](const PostedMessage&) {});
    }

  private:
    std::mutex Mutex;
    std::condition_variable Posted;
    std::deque<PostedMessage> Queue;
};

}  // namespace toval::test
