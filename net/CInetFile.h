#pragma once
// The downloader: one request fetched by a worker thread of its own, from the request's URL or,
// when that fails in a way another server could mend, from each of its mirrors in turn.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "net/transfer.h"

namespace toval {

class CInetFile final : public ITransfer {
  public:
    // Notifications go to `sink` (none when null): WM_DOWNLOAD_PROGRESS while bytes arrive,
    // WM_DOWNLOAD_COMPLETE once, at the end.
    CInetFile(TransferRequest request, IMessageSink* sink);
    ~CInetFile() override;

    const TransferRequest& Request() const override { return Req; }
    bool Start() override;
    void Cancel() override;
    uint64_t TakeProgress() override;
    uint64_t Received() const override { return ReceivedBytes.load(std::memory_order_relaxed); }
    const TransferResult& Result() const override { return Outcome; }
    void Join() override {
        if (Worker.joinable()) Worker.join();
    }

  private:
    class Transfer;  // one attempt on one URL, owning its libcurl handles and local file

    void Run(std::stop_token stop);
    // Fetches `req` from its URL or, failing that in a way another server could mend, from each
    // mirror in turn; the result code. Without `keepPartial`, a partial download is neither
    // continued nor left for a later run, even under the lock.
    int32_t Fetch(const TransferRequest& req, const std::stop_token& stop, bool keepPartial = true);
    // Fetches and applies a patch from the installed file when the request offers one for it;
    // nothing when the whole file must be fetched instead.
    std::optional<int32_t> FetchByPatch(const std::stop_token& stop);
    // Counts body bytes as received, for the progress notifications.
    void Report(uint64_t bytes, uint32_t chunk, std::chrono::steady_clock::time_point now);
    // Posts WM_DOWNLOAD_PROGRESS for bytes not yet taken, unless one is outstanding or (without
    // `force`) one was posted less than a progress interval ago.
    void PostProgress(std::chrono::steady_clock::time_point now, bool force);

    const TransferRequest Req;
    IMessageSink* const Sink;
    TransferResult Outcome;  // the worker's until the completion is posted
    std::atomic<uint64_t> ReceivedBytes{0};
    std::atomic<uint64_t> UnreportedBytes{0};
    std::atomic<bool> ProgressOutstanding{false};
    // The worker's own: when it last posted progress, and the size of its last chunk.
    std::chrono::steady_clock::time_point LastProgressPost{};
    uint32_t LastChunk = 0;
    std::jthread Worker;  // last: stopped and joined before the fields it uses go
};

}  // namespace toval
