#include "net/CInetFile.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>

#include "net/BufferedFile.h"
#include "net/curl_handles.h"

namespace toval {

namespace {

constexpr size_t kChunkBytes = 1024;  // the unit of progress and of the cancel check
constexpr size_t kWriteBufferBytes = 256 * 1024;
constexpr long kMaxRedirects = 20;
// How long the transfer loop waits for the network before looking at Cancel and the stall clock.
constexpr std::chrono::milliseconds kPollSlice{50};

using Clock = std::chrono::steady_clock;

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The status code of a status line ("HTTP/1.1 200 OK"); 0 when the line is not one.
long StatusOfLine(std::string_view line) {
    if (!line.starts_with("HTTP/")) return 0;
    const size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4) return 0;
    long code = 0;
    for (size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') return 0;
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

}  // namespace

class CInetFile::Transfer {
  public:
    explicit Transfer(CInetFile& owner) : Owner(owner), File(kWriteBufferBytes) {}

    // Throws CInetFileException with the result code of any failure.
    void Perform();

  private:
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static int OnConnected(void* self, char*, char*, int, int);

    void Configure(CURL* easy, CURLU* url, curl_slist* headers);
    // libcurl callbacks cannot throw; they stop the transfer and leave the code here.
    size_t Stop(int32_t code) {
        PendingCode = code;
        return 0;
    }
    bool OpenLocalFile() { return File.Open(LocalPath); }
    [[noreturn]] void Fail(int32_t code);

    CInetFile& Owner;
    std::string LocalPath;
    BufferedFile File;
    int32_t PendingCode = kResultOk;
    long Status = 0;  // of the response whose headers are being read or were read last
    bool AwaitingConnection = true;
    Clock::time_point LastActivity = Clock::now();
};

void CInetFile::Transfer::Perform() {
    if (Owner.URL.empty()) Owner.Raise(kResultEmptyUrl);

    CurlUrl url(curl_url());
    if (!url) Fail(kResultConnect);
    // Spaces and non-ASCII letters in paths are escaped, as a browser would send them.
    if (curl_url_set(url.get(), CURLUPART_URL, Owner.URL.c_str(), CURLU_URLENCODE) != CURLUE_OK)
        Owner.Raise(kResultBadUrl);
    char* scheme = nullptr;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
        Owner.Raise(kResultBadUrl);
    const bool web = std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0;
    curl_free(scheme);
    if (!web) Owner.Raise(kResultBadUrl);
    // The updater never sends credentials, not even ones written into the URL.
    curl_url_set(url.get(), CURLUPART_USER, nullptr, 0);
    curl_url_set(url.get(), CURLUPART_PASSWORD, nullptr, 0);

    LocalPath = Owner.Kind == 2 ? Owner.TargetPath + ".update" : Owner.TargetPath;

    CurlSlist headers;
    // libcurl replaces its own Accept by ours, so the server sees exactly one. The session agent
    // "Renewer - MFC App" is already on the request, so the agent added only where none is present
    // is not sent.
    if (!headers.Append("Accept: */*") || !headers.Append("Pragma: no-cache") ||
        !headers.Append("Cache-Control: no-cache"))
        Fail(kResultConnect);

    CurlEasy easy(curl_easy_init());
    CurlMulti multi(curl_multi_init());
    if (!easy || !multi) Fail(kResultConnect);
    Configure(easy.get(), url.get(), headers.Get());
    CurlMultiAttachment attachment(multi.get(), easy.get());
    if (!attachment.Ok()) Fail(kResultConnect);

    // A multi loop rather than curl_easy_perform: it wakes at least every slice, so Cancel and the
    // stall limit act within milliseconds even while the server sends nothing.
    Owner.Received.store(0, std::memory_order_relaxed);
    LastActivity = Clock::now();
    int running = 1;
    while (true) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) Fail(kResultConnect);
        if (running == 0) break;
        if (Owner.Cancel.load(std::memory_order_relaxed)) Fail(kResultCancelled);
        auto wait = kPollSlice;
        if (Owner.StallLimit.count() > 0 && !AwaitingConnection) {
            const auto idle =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - LastActivity);
            if (idle >= Owner.StallLimit) Fail(kResultConnect);
            wait = std::min(wait, Owner.StallLimit - idle);
        }
        const int waitMs = std::max<int>(1, static_cast<int>(wait.count()));
        if (curl_multi_poll(multi.get(), nullptr, 0, waitMs, nullptr) != CURLM_OK)
            Fail(kResultConnect);
    }

    CURLcode result = CURLE_OK;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg == CURLMSG_DONE) result = message->data.result;
    }
    if (PendingCode != kResultOk) Fail(PendingCode);
    if (result != CURLE_OK) Fail(kResultConnect);
    // A final response that is not 200 (a 304, a redirect without a target) fails like a 404.
    if (Status != 200) Owner.Raise(kResultHttpStatus);
    if (!File.IsOpen() && !OpenLocalFile()) Owner.Raise(kResultLocalFile);
    if (!File.Close()) Owner.Raise(kResultLocalFile);
}

void CInetFile::Transfer::Configure(CURL* easy, CURLU* url, curl_slist* headers) {
    curl_easy_setopt(easy, CURLOPT_CURLU, url);
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Renewer - MFC App");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(Owner.ConnectTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(kWriteBufferBytes));
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Transfer::OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
}

void CInetFile::Transfer::Fail(int32_t code) {
    // Connection failures and cancels keep the text the transfer already has.
    if (code == kResultConnect || code == kResultCancelled) throw CInetFileException(code);
    Owner.Raise(code);
}

int CInetFile::Transfer::OnConnected(void* self, char*, char*, int, int) {
    auto& t = *static_cast<Transfer*>(self);
    t.AwaitingConnection = false;
    t.LastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

size_t CInetFile::Transfer::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    const size_t total = size * count;
    const std::string_view line(data, total);
    t.LastActivity = Clock::now();
    if (const long status = StatusOfLine(line)) {
        t.Status = status;
        return total;
    }
    if (line != "\r\n" && line != "\n") return total;
    // The headers of one response are complete.
    if (t.Status == 200) {
        // The file is created here, not at the first body byte, so an empty body still makes one.
        return t.OpenLocalFile() ? total : t.Stop(kResultLocalFile);
    }
    if (t.Status >= 300 && t.Status < 400) {
        t.AwaitingConnection = true;  // libcurl follows it; the next connection has its own limit
        return total;
    }
    if (t.Status >= 100 && t.Status < 200) return total;  // an interim response
    return t.Stop(kResultHttpStatus);
}

size_t CInetFile::Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    const size_t total = size * count;
    if (!t.File.IsOpen()) {
        // A body of a response that is not 200 is never written anywhere.
        if (t.Status != 200) return t.Stop(kResultHttpStatus);
        if (!t.OpenLocalFile()) return t.Stop(kResultLocalFile);
    }
    t.LastActivity = Clock::now();
    for (size_t offset = 0; offset < total; offset += kChunkBytes) {
        const size_t n = std::min(kChunkBytes, total - offset);
        if (!t.File.Append(data + offset, n)) return t.Stop(kResultLocalFile);
        t.Owner.ReportChunk(static_cast<uint32_t>(n));
        if (t.Owner.Cancel.load(std::memory_order_relaxed)) return t.Stop(kResultCancelled);
    }
    return total;
}

CInetFile::CInetFile() = default;

CInetFile::~CInetFile() {
    Cancel.store(true);
    Join();
}

bool CInetFile::Start() {
    InitCurlOnce();
    ++StartCount;
    Join();
    Cancel.store(false);
    UnreportedBytes.store(0);
    ProgressOutstanding.store(false);
    return StartThread();
}

std::string CInetFile::GetErrorText() const { return ErrorText; }

void CInetFile::Raise(int32_t code) {
    ErrorText = ResultCodeText(code);
    throw CInetFileException(code);
}

// Why no byte is lost between the worker (W) and the receiver (R):
// W adds a chunk to UnreportedBytes, then exchanges ProgressOutstanding to true, posting when it
// was false. R exchanges ProgressOutstanding to false, then takes UnreportedBytes. If W's exchange
// saw true, it comes before R's exchange in ProgressOutstanding's order; both are read-modify-
// writes, so R's exchange reads W's value (or a later one in W's release sequence) and acquires
// W's release: W's addition happens before R's take, which therefore includes it. If W's exchange
// saw false, W posts a notification of its own, handled later, whose take includes the addition.
// Either way every byte is taken by a notification handled before the completion, which W posts
// after its last addition. A take may find 0 when an earlier one already took the bytes.
void CInetFile::ReportChunk(uint32_t bytes) {
    // Only this thread writes Received; readers need a whole value, not an ordering.
    Received.store(Received.load(std::memory_order_relaxed) + bytes, std::memory_order_relaxed);
    if (!NotifyWindow) return;
    UnreportedBytes.fetch_add(bytes, std::memory_order_relaxed);
    if (!ProgressOutstanding.exchange(true, std::memory_order_acq_rel))
        NotifyWindow->PostMessage(WM_DOWNLOAD_PROGRESS, MakeNotifyParam(Kind, bytes), this);
}

uint64_t CInetFile::TakeProgress() {
    ProgressOutstanding.exchange(false, std::memory_order_acq_rel);
    return UnreportedBytes.exchange(0, std::memory_order_relaxed);
}

void CInetFile::Run() {
    int32_t code = kResultOk;
    try {
        // The transfer's handles and file are released when it goes out of scope, before the
        // completion is posted, so the receiver may rename or read the file at once.
        Transfer transfer(*this);
        transfer.Perform();
    } catch (const CInetFileException& e) {
        code = e.Code;
    } catch (const std::bad_alloc&) {
        code = kResultConnect;
    }
    if (NotifyWindow)
        NotifyWindow->PostMessage(WM_DOWNLOAD_COMPLETE, MakeNotifyParam(Kind, code), this);
}

}  // namespace toval
