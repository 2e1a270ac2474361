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
        return std::make_unique<CInetFile>(std::move(request), &sink);
    };
}

CInetFile::CInetFile(TransferRequest request, IMessageSink* sink)
    : Req(std::move(request)), Sink(sink) {}

CInetFile::~CInetFile() = default;  // the worker is stopped and joined first

bool CInetFile::Start() {
    if (Worker.joinable()) return false;
    try {
        Worker = std::jthread([this](std::stop_token stop) { Run(std::move(stop)); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CInetFile::Cancel() {
    Worker.request_stop();
    // The loop looks at the stop at its next turn; this one is taken now.
    if (NetworkLoop* loop = NetworkLibrary::Loop()) loop->Wake();
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

int32_t CInetFile::Fetch(const TransferRequest& req, const std::stop_token& stop,
                         bool keepPartial) {
    std::vector<std::string> urls{req.URL};
    for (const std::string& origin : req.Mirrors)
        if (auto url = UrlOnMirror(req.URL, origin)) urls.push_back(std::move(*url));
    int32_t code = kResultOk;
    bool created = false;
    for (const std::string& url : urls) {
        // Each attempt's handles and file are released when it goes out of scope, before the
        // completion is posted, so the receiver may rename or read the file at once. An answer
        // that cannot continue the partial restarts once from byte 0; an attempt that continues
        // nothing cannot ask for that.
        bool mayContinue = true;
        long status = 0;
        while (true) {
            // What a failed attempt received is no longer in the file.
            ReceivedBytes.store(0, std::memory_order_relaxed);
            Transfer attempt(*this, req, url, stop, mayContinue, keepPartial, created);
            code = attempt.Perform();
            status = attempt.LastStatus();
            Outcome.HttpStatus = static_cast<int32_t>(status);
            Outcome.FetchedBytes += attempt.Fetched();
            Outcome.Resumed = attempt.Continued();
            Outcome.Multiplexed = attempt.Multiplexed();
            if (code == kResultOk) {
                Outcome.NotModified = attempt.NotModified();
                Outcome.ETag = attempt.ETagSeen();
                Outcome.LastModified = attempt.LastModifiedSeen();
            }
            if (code != kRestartFromZero) break;
            mayContinue = false;
        }
        Outcome.AnsweredBy = url;
        if (!MirrorCouldHelp(code, status, req.MirrorOnNotFound) || stop.stop_requested()) break;
    }
    return code;
}

void CInetFile::Run(std::stop_token stop) {
    int32_t code = kResultOk;
    try {
        if (Req.Writes == BodyTarget::UpdateFile && Req.Resume)
            ClearOwnPaths(Req.TargetPath, !Req.Patches.empty());
        // A patch that is missing, damaged or made for another file costs the player nothing
        // but its bytes: the whole file follows in the same transfer.
        const std::optional<int32_t> patched = FetchByPatch(stop);
        code = patched ? *patched : Fetch(Req, stop);
    } catch (const std::exception&) {  // out of memory, in practice
        code = kResultConnect;
    }
    Outcome.Code = code;
    // Connection failures and cancels keep the first text; every other failure names its cause.
    if (code != kResultOk && code != kResultConnect && code != kResultCancelled)
        Outcome.ErrorText = ResultCodeText(code);
    PostProgress(Clock::now(), true);  // nothing held back behind the completion
    if (Sink) Sink->Post(WM_DOWNLOAD_COMPLETE, MakeNotifyParam(Req.Kind, code), this);
}

}  // namespace toval
