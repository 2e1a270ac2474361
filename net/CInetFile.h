#pragma once
// The downloader: one request fetched from the request's URL or, when that fails in a way
// another server could mend, from each of its mirrors in turn. Its attempts run on the network
// loop's thread, one after another; only a request with a patch on offer has a worker thread of
// its own, for hashing the installed file and applying the patch.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "net/transfer.h"

namespace toval {

struct AttemptEnd;  // how one attempt ended
class NetworkLoop;

class CInetFile final : public ITransfer {
  public:
    // Notifications go to `sink` (none when null): WM_DOWNLOAD_PROGRESS while bytes arrive,
    // WM_DOWNLOAD_COMPLETE once, at the end. The attempts run on `loop`, which outlives the
    // transfer (without one, each fails as a connection would).
    CInetFile(TransferRequest request, IMessageSink* sink, NetworkLoop* loop);
    // Cancels what still runs and waits for its end.
    ~CInetFile() override;

    const TransferRequest& Request() const override { return Req; }
    bool Start() override;
    void Cancel() override;
    uint64_t TakeProgress() override;
    uint64_t Received() const override { return ReceivedBytes.load(std::memory_order_relaxed); }
    const TransferResult& Result() const override { return Outcome; }
    void Join() override;

  private:
    class Transfer;  // one attempt on one URL, owning its libcurl handles and local file

    // One request fetched from its URL or its mirrors: the attempts made so far.
    struct Chain {
        const TransferRequest* Request = nullptr;
        bool KeepPartial = true;
        std::vector<std::string> Urls;
        size_t Url = 0;           // the one being tried
        bool MayContinue = true;  // an answer may still continue a partial (no restart yet)
        bool Created = false;     // an attempt made the ".update" file
        std::function<void(int32_t)> Done;
    };

    // Fetches `req` from its URL or, failing that in a way another server could mend, from each
    // mirror in turn; `done` gets the result code once, on the loop's thread or (when nothing
    // could reach the network) the caller's. Without `keepPartial`, a partial download is
    // neither continued nor left for a later run, even under the lock.
    void BeginFetch(const TransferRequest& req, bool keepPartial,
                    std::function<void(int32_t)> done);
    void StartAttempt();
    // The attempt running ended: the next one, or the chain's end.
    void AttemptEnded(const AttemptEnd& end);
    // The same as BeginFetch, waiting for the end: on the worker only.
    int32_t FetchAndWait(const TransferRequest& req, bool keepPartial);
    // Whether a patch may make the file, which then needs the worker.
    bool PatchOnOffer() const;
    void RunWithPatch();
    // Fetches and applies a patch from the installed file when the request offers one for it;
    // nothing when the whole file must be fetched instead.
    std::optional<int32_t> FetchByPatch(const std::stop_token& stop);
    // Sets the result, posts the completion and lets Join return.
    void Complete(int32_t code);
    // Counts body bytes as received, for the progress notifications.
    void Report(uint64_t bytes, uint32_t chunk, std::chrono::steady_clock::time_point now);
    // Posts WM_DOWNLOAD_PROGRESS for bytes not yet taken, unless one is outstanding or (without
    // `force`) one was posted less than a progress interval ago.
    void PostProgress(std::chrono::steady_clock::time_point now, bool force);

    const TransferRequest Req;
    IMessageSink* const Sink;
    NetworkLoop* const Loop;
    std::stop_source StopSource;
    TransferResult Outcome;  // the transfer's until the completion is posted
    std::atomic<uint64_t> ReceivedBytes{0};
    std::atomic<uint64_t> UnreportedBytes{0};
    std::atomic<bool> ProgressOutstanding{false};
    // The running attempt's thread's own: when it last posted progress, and the size of its
    // last chunk.
    std::chrono::steady_clock::time_point LastProgressPost{};
    uint32_t LastChunk = 0;
    Chain Current;
    std::unique_ptr<Transfer> Attempt;
    // The attempt before, kept until the next one starts: its callback may still be returning.
    std::unique_ptr<Transfer> Retired;
    bool Started = false;
    std::mutex EndLock;
    std::condition_variable EndSignal;
    bool Ended = false;   // guarded by EndLock
    std::jthread Worker;  // last: joined before the fields it uses go
};

}  // namespace toval
