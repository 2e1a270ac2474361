#include "net/CInetFile.h"

#include <curl/curl.h>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <string_view>

#include "net/BufferedFile.h"
#include "net/curl_handles.h"
#include "net/network_library.h"
#include "net/update_path.h"
#include "platform/crypto.h"
#include "platform/text.h"

namespace toval {

namespace {

constexpr size_t kChunkBytes = 1024;  // the unit of progress and of the cancel check
constexpr size_t kWriteBufferBytes = 256 * 1024;
constexpr uint64_t kTrailingHashBytes = 4 << 20;
constexpr long kMaxRedirects = 20;
// The shortest time between two progress notifications: fast enough for a smooth display and
// animation, slow enough that a fast download does not keep the receiver's thread awake.
constexpr std::chrono::milliseconds kProgressInterval{10};
// How long the transfer loop waits for the network before looking at Cancel and the rate window.
constexpr std::chrono::milliseconds kPollSlice{50};

using Clock = std::chrono::steady_clock;

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

// The value of header line `line` when it is header `name` (given with its colon), without the
// blanks around it; nothing for another header.
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view name) {
    if (!StartsWithIgnoringAsciiCase(line, name)) return std::nullopt;
    line.remove_prefix(name.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ' ||
                             line.back() == '\t'))
        line.remove_suffix(1);
    return line;
}

std::optional<uint64_t> ContentLengthOfLine(std::string_view line) {
    const std::optional<std::string_view> text = HeaderValue(line, "content-length:");
    if (!text || text->empty()) return std::nullopt;
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
    return value;
}

// A validator kept from an earlier answer goes back into a request line of its own; one that
// could end that line early is not sent.
bool FitsInAHeader(std::string_view value) {
    for (char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return !value.empty();
}

}  // namespace

class CInetFile::Transfer {
  public:
    explicit Transfer(CInetFile& owner) : Owner(owner), File(kWriteBufferBytes) {}

    // Throws CInetFileException with the result code of any failure.
    void Perform();

  private:
    void Download();
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static int OnConnected(void* self, char*, char*, int, int);

    // False when libcurl refuses an option, so that no restriction is silently dropped.
    bool Configure(CURL* easy, CURLU* url, curl_slist* headers);
    // libcurl callbacks cannot throw; they stop the transfer and leave the code here.
    size_t Stop(int32_t code) {
        PendingCode = code;
        return 0;
    }
    // A transfer without a target has nowhere to write; it must not fall back to the current
    // directory.
    bool OpenLocalFile();
    // The code that the announced length of a final response fails with; kResultOk when it has
    // none or it is acceptable.
    int32_t CheckAnnouncedLength() const;
    // Every byte from the server counts towards the rate window, headers included.
    void CountArrival(size_t bytes, Clock::time_point now);
    [[noreturn]] void Fail(int32_t code);

    CInetFile& Owner;
    std::string LocalPath;
    BufferedFile File;
    int32_t PendingCode = kResultOk;
    long Status = 0;  // of the response whose headers are being read or were read last
    std::optional<uint64_t> ContentLength;  // of that response, when it announced one
    std::string ETag, LastModified;         // of that response
    bool Conditional = false;               // validators were sent: a 304 is an answer
    bool AwaitingConnection = true;         // until the first connection; ConnectTimeout governs it
    bool CreatedFile = false;               // the ".update" file was made by this transfer
    uint64_t BodyBytes = 0;                 // written to the file
    uint64_t Limit = 0;                     // the most body bytes accepted; 0: any number
    std::optional<Sha256Digest> ExpectedDigest;  // of the body, when the owner gave one
    toval::Sha256 Hash;                          // of the bytes written, when there is one
    // The rate window: its start, and the bytes that arrived since.
    Clock::time_point WindowStart = Clock::now();
    uint64_t WindowBytes = 0;
};

void CInetFile::Transfer::Perform() {
    try {
        Download();
    } catch (const CInetFileException& e) {
        // A file that could not be written out, or whose length or content is wrong, is of no use
        // and must not be installed. Only a file this transfer created is removed: when the open
        // found one already there, it belongs to another writer.
        if (CreatedFile &&
            (e.Code == kResultLocalFile || e.Code == kResultLength || e.Code == kResultContent)) {
            File.Discard();
            ::unlink(LocalPath.c_str());
        }
        throw;
    }
}

void CInetFile::Transfer::Download() {
    if (Owner.URL.empty()) Owner.Raise(kResultEmptyUrl);
    if (!Owner.Sha256.empty()) {
        ExpectedDigest = ParseSha256Hex(Owner.Sha256);
        if (!ExpectedDigest) Owner.Raise(kResultContent);
    }

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

    LocalPath = Owner.Kind == 2 ? UpdateFilePath(Owner.TargetPath) : Owner.TargetPath;
    for (const uint64_t cap : {Owner.ExpectedLength, Owner.MaxLength}) {
        if (cap != 0) Limit = Limit == 0 ? cap : std::min(Limit, cap);
    }

    CurlSlist headers;
    // libcurl replaces its own Accept by ours, so the server sees exactly one. The session agent
    // "Renewer - MFC App" is already on the request, so the agent added only where none is present
    // is not sent.
    // The request line stays HTTP/1.0, as servers, proxies and their logs know it; keep-alive
    // is asked for, so the next file can come over the same connection.
    if (!headers.Append("Accept: */*") || !headers.Append("Pragma: no-cache") ||
        !headers.Append("Cache-Control: no-cache") || !headers.Append("Connection: keep-alive"))
        Fail(kResultConnect);
    // The cache-bypassing headers stay: a cache between us and the server revalidates at the
    // origin, and only the origin's answer decides whether the kept copy is current.
    Owner.NotModified = false;
    Conditional = false;
    if (FitsInAHeader(Owner.IfNoneMatch)) {
        if (!headers.Append(("If-None-Match: " + Owner.IfNoneMatch).c_str())) Fail(kResultConnect);
        Conditional = true;
    }
    if (FitsInAHeader(Owner.IfModifiedSince)) {
        if (!headers.Append(("If-Modified-Since: " + Owner.IfModifiedSince).c_str()))
            Fail(kResultConnect);
        Conditional = true;
    }

    CurlEasy easy(curl_easy_init());
    CurlMulti multi(curl_multi_init());
    if (!easy || !multi) Fail(kResultConnect);
    if (!Configure(easy.get(), url.get(), headers.Get())) Fail(kResultConnect);
    CurlMultiAttachment attachment(multi.get(), easy.get());
    if (!attachment.Ok()) Fail(kResultConnect);

    // A multi loop rather than curl_easy_perform: it wakes at least every slice, so Cancel and the
    // rate window act within milliseconds even while the server sends nothing.
    Owner.Received.store(0, std::memory_order_relaxed);
    WindowStart = Clock::now();
    int running = 1;
    while (true) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) Fail(kResultConnect);
        if (running == 0) break;
        if (Owner.Cancel.load(std::memory_order_relaxed)) Fail(kResultCancelled);
        // Bytes held back by the progress interval are reported even while the body stalls.
        Owner.PostProgress(Clock::now(), false);
        auto wait = kPollSlice;
        // The window restarts whenever MinimumBytes have arrived in it, so one that has lasted
        // StallLimit has seen fewer: the server is too slow to be worth waiting for.
        if (Owner.StallLimit.count() > 0 && !AwaitingConnection) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - WindowStart);
            if (elapsed >= Owner.StallLimit) Fail(kResultConnect);
            wait = std::min(wait, Owner.StallLimit - elapsed);
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
    // The copy the caller keeps is current: nothing was written, nothing is to be.
    if (Status == 304 && Conditional) {
        Owner.NotModified = true;
        return;
    }
    // Any other final response that is not 200 (a 304 nobody asked for, a redirect without a
    // target) fails like a 404.
    if (Status != 200) Owner.Raise(kResultHttpStatus);
    Owner.ETag = ETag;
    Owner.LastModified = LastModified;
    if (!OpenLocalFile()) Fail(kResultLocalFile);
    // A body that ended early without announcing its length ends here.
    if (Owner.ExpectedLength != 0 && BodyBytes != Owner.ExpectedLength) Fail(kResultLength);
    // Checked before the file is synced: a wrong one is removed, and need not reach the disk.
    if (ExpectedDigest) {
        const std::optional<Sha256Digest> digest =
            File.Hashing() ? File.FinishHash() : Hash.Final();
        if (digest != ExpectedDigest) Fail(kResultContent);
    }
    // An ".update" file is renamed over the installed one next; its data must be on the disk
    // before that, or a power loss could leave an empty file installed.
    const bool update = Owner.Kind == 2;
    if (!File.Close(update ? Owner.FileMode : 0, update && Owner.SyncOnClose))
        Fail(kResultLocalFile);
}

bool CInetFile::Transfer::OpenLocalFile() {
    if (File.IsOpen()) return true;
    if (Owner.TargetPath.empty()) return false;
    // An ".update" file is only ever created, never truncated: an existing one is another
    // writer's, since stale ones are removed before a run downloads anything.
    const bool exclusive = Owner.Kind == 2;
    if (!File.Open(LocalPath, exclusive)) return false;
    CreatedFile = exclusive;
    // A large body is hashed beside the download rather than in its way; a small one is hashed
    // as it arrives, which costs less than a thread.
    if (ExpectedDigest && Owner.ExpectedLength >= kTrailingHashBytes) File.HashWhileWriting();
    return true;
}

int32_t CInetFile::Transfer::CheckAnnouncedLength() const {
    if (!ContentLength) return kResultOk;
    if (Owner.ExpectedLength != 0 && *ContentLength != Owner.ExpectedLength) return kResultLength;
    if (Owner.MaxLength != 0 && *ContentLength > Owner.MaxLength) return kResultLength;
    return kResultOk;
}

void CInetFile::Transfer::CountArrival(size_t bytes, Clock::time_point now) {
    WindowBytes += bytes;
    if (WindowBytes < Owner.MinimumBytes) return;
    WindowStart = now;
    WindowBytes = 0;
}

bool CInetFile::Transfer::Configure(CURL* easy, CURLU* url, curl_slist* headers) {
    const auto set = [easy](CURLoption option, auto value) {
        return curl_easy_setopt(easy, option, value) == CURLE_OK;
    };
    const long connectMs = static_cast<long>(Owner.ConnectTimeout.count());
    return set(CURLOPT_CURLU, url) && set(CURLOPT_HTTPGET, 1L) &&
           set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0)) &&
           set(CURLOPT_USERAGENT, "Renewer - MFC App") && set(CURLOPT_HTTPHEADER, headers) &&
           set(CURLOPT_PROTOCOLS_STR, "http,https") && set(CURLOPT_FOLLOWLOCATION, 1L) &&
           set(CURLOPT_MAXREDIRS, kMaxRedirects) &&
           set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https") && set(CURLOPT_NOSIGNAL, 1L) &&
           set(CURLOPT_CONNECTTIMEOUT_MS, connectMs) && set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) &&
           set(CURLOPT_BUFFERSIZE, static_cast<long>(kWriteBufferBytes)) &&
           set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader) && set(CURLOPT_HEADERDATA, this) &&
           set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody) && set(CURLOPT_WRITEDATA, this) &&
           set(CURLOPT_PREREQFUNCTION, &Transfer::OnConnected) && set(CURLOPT_PREREQDATA, this) &&
           (!NetworkLibrary::SharedConnections() ||
            set(CURLOPT_SHARE, NetworkLibrary::SharedConnections()));
}

void CInetFile::Transfer::Fail(int32_t code) {
    // Connection failures and cancels keep the text the transfer already has.
    if (code == kResultConnect || code == kResultCancelled) throw CInetFileException(code);
    Owner.Raise(code);
}

int CInetFile::Transfer::OnConnected(void* self, char*, char*, int, int) {
    auto& t = *static_cast<Transfer*>(self);
    t.AwaitingConnection = false;
    t.WindowStart = Clock::now();
    t.WindowBytes = 0;
    return CURL_PREREQFUNC_OK;
}

size_t CInetFile::Transfer::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    const size_t total = size * count;
    const std::string_view line(data, total);
    t.CountArrival(total, Clock::now());
    if (const long status = StatusOfLine(line)) {
        t.Status = status;
        t.ContentLength.reset();
        t.ETag.clear();
        t.LastModified.clear();
        return total;
    }
    if (line != "\r\n" && line != "\n") {
        if (const auto length = ContentLengthOfLine(line)) t.ContentLength = length;
        if (const auto tag = HeaderValue(line, "etag:")) t.ETag = *tag;
        if (const auto time = HeaderValue(line, "last-modified:")) t.LastModified = *time;
        return total;
    }
    // The headers of one response are complete.
    if (t.Status == 200) {
        // A body announced at the wrong length is refused before anything is written.
        if (const int32_t code = t.CheckAnnouncedLength()) return t.Stop(code);
        // The file is created here, not at the first body byte, so an empty body still makes one.
        return t.OpenLocalFile() ? total : t.Stop(kResultLocalFile);
    }
    // A redirect is followed by libcurl (a final one fails after the transfer); the rate window,
    // which its header lines fill, also bounds the connection to the new location.
    if (t.Status == 304 && t.Conditional) return total;
    if (t.Status >= 300 && t.Status < 400) return total;
    if (t.Status >= 100 && t.Status < 200) return total;  // an interim response
    return t.Stop(kResultHttpStatus);
}

size_t CInetFile::Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    const size_t total = size * count;
    const auto now = Clock::now();
    t.CountArrival(total, now);
    if (!t.File.IsOpen()) {
        // A body of a response that is not 200 is never written anywhere.
        if (t.Status != 200) return t.Stop(kResultHttpStatus);
        if (!t.OpenLocalFile()) return t.Stop(kResultLocalFile);
    }
    // Bytes past the limit are neither written nor reported: the body is already known to be
    // wrong, and a server that sends without end must not fill the disk.
    size_t wanted = total;
    if (t.Limit != 0)
        wanted = static_cast<size_t>(std::min<uint64_t>(total, t.Limit - t.BodyBytes));
    // The block is counted chunk by chunk first and then handed to the file in one piece, so a
    // large block goes to the disk without being copied. Only chunks up to the one after which
    // Cancel was seen are written; the receiver cannot tell the order apart, since it never sees
    // the buffer, and a failed write ends the transfer with code 7 either way.
    size_t accepted = 0;
    bool cancelled = false;
    while (accepted < wanted && !cancelled) {
        const size_t n = std::min(kChunkBytes, wanted - accepted);
        accepted += n;
        t.Owner.ReportChunk(static_cast<uint32_t>(n), now);
        cancelled = t.Owner.Cancel.load(std::memory_order_relaxed);
    }
    t.BodyBytes += accepted;
    if (!t.File.Append(data, accepted)) return t.Stop(kResultLocalFile);
    if (t.ExpectedDigest && !t.File.Hashing()) t.Hash.Update(data, accepted);
    if (cancelled) return t.Stop(kResultCancelled);
    if (accepted < total) return t.Stop(kResultLength);
    return total;
}

CInetFile::CInetFile() = default;

CInetFile::~CInetFile() {
    Cancel.store(true);
    Join();
}

bool CInetFile::Start() {
    ++StartCount;
    Join();
    Cancel.store(false);
    UnreportedBytes.store(0);
    ProgressOutstanding.store(false);
    LastProgressPost = {};
    return StartThread();
}

std::string CInetFile::GetErrorText() const { return ErrorText; }

void CInetFile::Raise(int32_t code) {
    ErrorText = ResultCodeText(code);
    throw CInetFileException(code);
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
void CInetFile::ReportChunk(uint32_t bytes, Clock::time_point now) {
    // Only this thread writes Received; readers need a whole value, not an ordering.
    Received.store(Received.load(std::memory_order_relaxed) + bytes, std::memory_order_relaxed);
    if (!NotifyWindow) return;
    UnreportedBytes.fetch_add(bytes, std::memory_order_relaxed);
    LastChunk = bytes;
    PostProgress(now, false);
}

void CInetFile::PostProgress(Clock::time_point now, bool force) {
    if (!NotifyWindow || (!force && now - LastProgressPost < kProgressInterval)) return;
    if (UnreportedBytes.load(std::memory_order_relaxed) == 0) return;
    if (ProgressOutstanding.exchange(true, std::memory_order_acq_rel)) return;
    LastProgressPost = now;
    NotifyWindow->PostMessage(WM_DOWNLOAD_PROGRESS, MakeNotifyParam(Kind, LastChunk), this);
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
    } catch (const std::exception&) {  // out of memory, in practice
        code = kResultConnect;
    }
    PostProgress(Clock::now(), true);  // nothing held back behind the completion
    if (NotifyWindow)
        NotifyWindow->PostMessage(WM_DOWNLOAD_COMPLETE, MakeNotifyParam(Kind, code), this);
}

}  // namespace toval
