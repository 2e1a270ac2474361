#include "net/CInetFile.h"

#include <chrono>
#include <exception>
#include <system_error>
#include <vector>

#include "net/derived_urls.h"
#include "net/inet_file_transfer.h"
#include "net/network_library.h"
#include "net/network_loop.h"
#include "net/temporary_paths.h"

namespace toval {

namespace {

// The shortest time between two progress notifications: fast enough for a smooth display and
// animation, slow enough that a fast download does not keep the receiver's thread awake.
constexpr std::chrono::milliseconds kProgressInterval{10};

using Clock = std::chrono::steady_clock;

// A failure another server might not have: the mirrors are tried for it.
bool MirrorCouldHelp(int32_t code, long status, bool onNotFound) {
    return code == kResultConnect ||
           (code == kResultHttpStatus &&
            ((status == 404 && onNotFound) || (status >= 500 && status < 600)));
}

}  // namespace

TransferFactory DefaultTransferFactory() {
    return [](TransferRequest request, IMessageSink& sink) -> std::unique_ptr<ITransfer> {
        return std::make_unique<CInetFile>(std::move(request), &sink, NetworkLibrary::Loop());
    };
}

CInetFile::CInetFile(TransferRequest request, IMessageSink* sink, NetworkLoop* loop)
    : Req(std::move(request)), Sink(sink), Loop(loop) {}

CInetFile::~CInetFile() {
    Cancel();
    Join();
}

bool CInetFile::Start() {
    if (Started) return false;
    Started = true;
    // A cancel before the start is forgotten, as a worker's would be.
    StopSource = std::stop_source();
    try {
        if (PatchOnOffer()) {
            Worker = std::jthread([this] { RunWithPatch(); });
            return true;
        }
        if (Req.Writes == BodyTarget::UpdateFile && Req.Resume)
            ClearOwnPaths(Req.TargetPath, false);
        BeginFetch(Req, true, [this](int32_t code) { Complete(code); });
    } catch (const std::system_error&) {  // no thread for the worker
        Started = false;
        return false;
    } catch (const std::exception&) {  // out of memory, in practice
        Complete(kResultConnect);
    }
    return true;
}

void CInetFile::Cancel() {
    StopSource.request_stop();
    // The loop looks at the stop at its next turn; this one is taken now.
    if (Loop) Loop->Wake();
}

void CInetFile::Join() {
    if (Worker.joinable()) Worker.join();
    if (!Started) return;
    std::unique_lock lock(EndLock);
    EndSignal.wait(lock, [this] { return Ended; });
}

void CInetFile::RunWithPatch() {
    int32_t code = kResultOk;
    try {
        if (Req.Resume) ClearOwnPaths(Req.TargetPath, true);
        // A patch that is missing, damaged or made for another file costs the player nothing
        // but its bytes: the whole file follows in the same transfer.
        const std::optional<int32_t> patched = FetchByPatch(StopSource.get_token());
        code = patched ? *patched : FetchAndWait(Req, true);
    } catch (const std::exception&) {  // out of memory, in practice
        code = kResultConnect;
    }
    Complete(code);
}

void CInetFile::Complete(int32_t code) {
    Outcome.Code = code;
    // Connection failures and cancels keep the first text; every other failure names its cause.
    if (code != kResultOk && code != kResultConnect && code != kResultCancelled)
        Outcome.ErrorText = ResultCodeText(code);
    PostProgress(Clock::now(), true);  // nothing held back behind the completion
    if (Sink) Sink->Post(WM_DOWNLOAD_COMPLETE, MakeNotifyParam(Req.Kind, code), this);
    // Notified under the lock: Join may return, and the transfer go, as soon as it is released.
    std::lock_guard guard(EndLock);
    Ended = true;
    EndSignal.notify_all();
}

// Why no byte is lost between the worker (W) and the receiver (R):
// W adds a chunk to UnreportedBytes, then (unless the interval holds it back) exchanges
// ProgressOutstanding to true, posting when it was false. R exchanges ProgressOutstanding to false,
// then takes UnreportedBytes. If W's exchange saw true, it comes before R's exchange in
// ProgressOutstanding's order; both are read-modify-writes, so R's exchange reads W's value (or a
// later one in W's release sequence) and acquires W's release: W's additions before its exchange
// happen before R's take, which therefore includes them. If W's exchange saw false, W posts a
// notification of its own, handled later, whose take includes them. Before the completion W
// exchanges once more whenever bytes remain, so every byte is taken by a notification handled
// before the completion. W's load of UnreportedBytes sees its own additions; when it reads 0, a
// take has already included them. A take may find 0 when an earlier one took the bytes.
void CInetFile::Report(uint64_t bytes, uint32_t chunk, Clock::time_point now) {
    // Only this thread writes ReceivedBytes; readers need a whole value, not an ordering.
    ReceivedBytes.store(ReceivedBytes.load(std::memory_order_relaxed) + bytes,
                        std::memory_order_relaxed);
    if (!Sink) return;
    UnreportedBytes.fetch_add(bytes, std::memory_order_relaxed);
    if (chunk != 0) LastChunk = chunk;
    PostProgress(now, false);
}

void CInetFile::PostProgress(Clock::time_point now, bool force) {
    if (!Sink || (!force && now - LastProgressPost < kProgressInterval)) return;
    if (UnreportedBytes.load(std::memory_order_relaxed) == 0) return;
    if (ProgressOutstanding.exchange(true, std::memory_order_acq_rel)) return;
    LastProgressPost = now;
    Sink->Post(WM_DOWNLOAD_PROGRESS, MakeNotifyParam(Req.Kind, LastChunk), this);
}

uint64_t CInetFile::TakeProgress() {
    ProgressOutstanding.exchange(false, std::memory_order_acq_rel);
    return UnreportedBytes.exchange(0, std::memory_order_relaxed);
}

void CInetFile::BeginFetch(const TransferRequest& req, bool keepPartial,
                           std::function<void(int32_t)> done) {
    Current = Chain{&req, keepPartial, {req.URL}, 0, true, false, std::move(done)};
    for (const std::string& origin : req.Mirrors)
        if (auto url = UrlOnMirror(req.URL, origin)) Current.Urls.push_back(std::move(*url));
    StartAttempt();
}

void CInetFile::StartAttempt() {
    // What a failed attempt received is no longer in the file.
    ReceivedBytes.store(0, std::memory_order_relaxed);
    Retired = std::move(Attempt);
    Attempt = std::make_unique<Transfer>(*this, *Current.Request, Current.Urls[Current.Url],
                                         StopSource.get_token(), Current.MayContinue,
                                         Current.KeepPartial, Current.Created);
    // Handles and the file of an attempt are released before it reports its end, so the receiver
    // may rename or read the file at once.
    if (const std::optional<AttemptEnd> end = Attempt->Begin()) AttemptEnded(*end);
}

void CInetFile::AttemptEnded(const AttemptEnd& end) {
    const int32_t code = end.Code;
    const Transfer& attempt = *Attempt;
    const long status = attempt.LastStatus();
    Outcome.HttpStatus = static_cast<int32_t>(status);
    Outcome.FetchedBytes += attempt.Fetched();
    Outcome.Resumed = attempt.Continued();
    Outcome.Multiplexed = attempt.Multiplexed();
    if (!end.Failed()) {
        Outcome.NotModified = attempt.NotModified();
        Outcome.ETag = attempt.ETagSeen();
        Outcome.LastModified = attempt.LastModifiedSeen();
    }
    // An answer that cannot continue the partial restarts once from byte 0; an attempt that
    // continues nothing cannot ask for that.
    if (end.FromZeroAgain) {
        Current.MayContinue = false;
        StartAttempt();
        return;
    }
    Outcome.AnsweredBy = Current.Urls[Current.Url];
    if (MirrorCouldHelp(code, status, Current.Request->MirrorOnNotFound) &&
        !StopSource.stop_requested() && Current.Url + 1 < Current.Urls.size()) {
        ++Current.Url;
        Current.MayContinue = true;
        StartAttempt();
        return;
    }
    // Taken out first: once told, a worker waiting for this end may begin another chain.
    std::function<void(int32_t)> done = std::move(Current.Done);
    done(code);
}

int32_t CInetFile::FetchAndWait(const TransferRequest& req, bool keepPartial) {
    std::mutex lock;
    std::condition_variable signal;
    std::optional<int32_t> result;
    BeginFetch(req, keepPartial, [&](int32_t code) {
        // Notified under the lock: this frame may go as soon as it is released.
        std::lock_guard guard(lock);
        result = code;
        signal.notify_one();
    });
    std::unique_lock wait(lock);
    signal.wait(wait, [&] { return result.has_value(); });
    return *result;
}

}  // namespace toval
