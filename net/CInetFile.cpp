#include "net/CInetFile.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <exception>
#include <future>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "net/BufferedFile.h"
#include "net/curl_handles.h"
#include "net/derived_urls.h"
#include "net/network_library.h"
#include "net/patch_apply.h"
#include "net/patch_limits.h"
#include "net/rate_floor.h"
#include "net/resume_info.h"
#include "net/temporary_paths.h"
#include "net/update_path.h"
#include "platform/crypto.h"
#include "platform/file_handle.h"
#include "platform/mapped_file.h"
#include "platform/text.h"

namespace toval {

namespace {

constexpr size_t kChunkBytes = 1024;  // the unit of progress and of the cancel check
constexpr size_t kWriteBufferBytes = 256 * 1024;
constexpr uint64_t kTrailingHashBytes = 4 << 20;
constexpr long kMaxRedirects = 20;
// A body shorter than this comes again in about the time its partial would take to continue,
// so none is kept to continue (which costs two file operations per file). An unknown length
// (0) is always kept.
constexpr uint64_t kResumableBytes = 1 << 20;
// Connections kept open in the shared cache, those in use included: room for every transfer the
// run allows at once and their idle ones, across a few servers.
constexpr long kCachedConnections = 32;
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

// "bytes FIRST-LAST/TOTAL" of a Content-Range header; nothing for any other form.
struct ContentRange {
    uint64_t First = 0, Last = 0, Total = 0;
};
std::optional<ContentRange> ContentRangeOfLine(std::string_view line) {
    std::optional<std::string_view> text = HeaderValue(line, "content-range:");
    if (!text || !StartsWithIgnoringAsciiCase(*text, "bytes ")) return std::nullopt;
    std::string_view rest = text->substr(6);
    ContentRange range;
    const auto number = [&rest](uint64_t& value, char end) {
        const auto [stop, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
        if (error != std::errc()) return false;
        rest.remove_prefix(static_cast<size_t>(stop - rest.data()));
        if (end == 0) return rest.empty();
        if (rest.empty() || rest.front() != end) return false;
        rest.remove_prefix(1);
        return true;
    };
    if (!number(range.First, '-') || !number(range.Last, '/') || !number(range.Total, 0))
        return std::nullopt;
    return range;
}

// The SHA-256 of a regular file; nothing when it cannot be read, or a stop is asked for (a
// file of gigabytes takes seconds).
std::optional<Sha256Digest> HashOfFile(const std::string& path, std::stop_token stop) {
    constexpr size_t kPiece = 4 << 20;
    const MappedFile file(path);
    if (!file.Ok()) return std::nullopt;
    Sha256 hash;
    for (std::string_view left = file.Bytes(); !left.empty();) {
        if (stop.stop_requested()) return std::nullopt;
        const std::string_view piece = left.substr(0, kPiece);
        hash.Update(piece);
        left.remove_prefix(piece.size());
    }
    return hash.Final();
}

// A failure another server might not have: the mirrors are tried for it.
bool MirrorCouldHelp(int32_t code, long status) {
    return code == kResultConnect ||
           (code == kResultHttpStatus && (status == 404 || (status >= 500 && status < 600)));
}

// A size on the disk of a regular file that is not a link; nothing otherwise.
std::optional<uint64_t> RegularFileSize(const std::string& path) {
    const PathStatus status = ExaminePath(path);
    if (status.Kind != PathKind::Regular) return std::nullopt;
    return status.Size;
}

}  // namespace

// An attempt whose Range request could not continue the partial file: it has been dropped, and
// the same URL is asked again for the whole body.
constexpr int32_t kRestartFromZero = -1;

class CInetFile::Transfer {
  public:
    // `created` says whether an earlier attempt of the same request made its ".update" file (a
    // later one may then overwrite it); this attempt sets it when it makes the file. Without
    // `keepPartial` a partial is neither continued nor kept.
    Transfer(CInetFile& owner, const TransferRequest& req, std::string url, std::stop_token stop,
             bool mayContinue, bool keepPartial, bool& created)
        : Owner(owner),
          Req(req),
          Url(std::move(url)),
          Stop(std::move(stop)),
          MayContinue(mayContinue && keepPartial),
          KeepsPartial(keepPartial),
          Created(created),
          File(kWriteBufferBytes) {}

    // The result code of this attempt (or kRestartFromZero); a file the attempt made and that can
    // be of no use is gone.
    int32_t Perform();
    // The status of the last response seen; 0 when none came.
    long LastStatus() const { return Status; }
    bool NotModified() const { return WasNotModified; }
    const std::string& ETagSeen() const { return ETag; }
    const std::string& LastModifiedSeen() const { return LastModified; }

  private:
    struct Failure {
        int32_t Code;
    };

    void Download();
    // Looks for a partial ".update" file that this request may continue; sets Offset.
    void FindPartial();
    void DropPartial();
    // What the file holds could be continued by a later run of the same request.
    bool Continuable() const {
        return Req.Kind == 2 && Req.Resume && KeepsPartial && Resumable && BodyBytes > 0 &&
               (Req.ExpectedLength == 0 || BodyBytes < Req.ExpectedLength);
    }
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static int OnConnected(void* self, char*, char*, int, int);
    size_t HeadersComplete(size_t total);

    // False when libcurl refuses an option, so that no restriction is silently dropped.
    bool Configure(CURL* easy, CURLU* url, curl_slist* headers);
    // libcurl callbacks cannot throw; they stop the transfer and leave the code here.
    size_t StopWith(int32_t code) {
        PendingCode = code;
        return 0;
    }
    // A transfer without a target has nowhere to write; it must not fall back to the current
    // directory. A continued file opens at its end, with what it holds already hashed.
    bool OpenLocalFile();
    bool HashExisting();
    // The code that the announced length of a final response fails with; kResultOk when it has
    // none or it is acceptable.
    int32_t CheckAnnouncedLength() const;
    [[noreturn]] static void Fail(int32_t code) { throw Failure{code}; }

    CInetFile& Owner;
    const TransferRequest& Req;
    const std::string Url;
    const std::stop_token Stop;
    const bool MayContinue;
    const bool KeepsPartial;
    bool& Created;
    std::string LocalPath;
    BufferedFile File;
    int32_t PendingCode = kResultOk;
    long Status = 0;  // of the response whose headers are being read or were read last
    std::optional<uint64_t> ContentLength;  // of that response, when it announced one
    std::optional<ContentRange> Range;      // of that response, when it gave one
    std::string ETag, LastModified;         // of that response
    bool Conditional = false;               // validators were sent: a 304 is an answer
    bool WasNotModified = false;
    bool AwaitingConnection = true;  // until the first connection; ConnectTimeout governs it
    bool OwnsFile = false;           // the local file is this transfer's to remove
    uint64_t Offset = 0;             // bytes of a partial file asked to be continued
    std::string Validator;           // of that partial, sent as If-Range
    bool Resumable = false;          // what the file holds is described beside it
    bool FoundPartial = false;       // an earlier run left a partial (and maybe its description)
    uint64_t BodyBytes = 0;          // the file holds (a continued one counts its start)
    uint64_t Limit = 0;              // the most body bytes accepted; 0: any number
    std::optional<Sha256Digest> ExpectedDigest;  // of the body, when the request gave one
    toval::Sha256 Hash;                          // of the bytes written, when there is one
    // Every byte from the server counts towards the rate, headers included.
    RateFloor Floor{Req.MinimumRate, Req.RateWindow, Req.RateGrace};
};

int32_t CInetFile::Transfer::Perform() {
    try {
        Download();
    } catch (const Failure& f) {
        if (f.Code == kRestartFromZero) {
            File.Discard();
            DropPartial();
            return f.Code;
        }
        // A file that could not be written out, or whose length or content is wrong, is of no use
        // and must not be installed, nor continued. Only a file this transfer may own is removed:
        // when an exclusive open found one already there, it belongs to another writer.
        // A partial that a later run could not continue is not left behind either.
        if (OwnsFile && (f.Code == kResultLocalFile || f.Code == kResultLength ||
                         f.Code == kResultContent || !Continuable())) {
            File.Discard();
            DropPartial();
        }
        return f.Code;
    }
    return kResultOk;
}

void CInetFile::Transfer::FindPartial() {
    if (Req.Kind != 2 || !Req.Resume || !MayContinue) return;
    // Most files have no partial: one look, before anything is read.
    const std::optional<uint64_t> size = RegularFileSize(LocalPath);
    if (!size || *size == 0) return;
    FoundPartial = true;
    // A validator only says what the server thinks: nginx's count whole seconds, so a file
    // replaced within one at the same length looks unchanged. Only the hash proves the joined
    // result, so without one the whole body is fetched and replaces the partial.
    if (!ExpectedDigest) return;
    const std::optional<ResumeInfo> info = ReadResumeInfo(ResumeInfoPath(Req.TargetPath));
    if (!info || info->URL != Url) return;
    const uint64_t whole = Req.ExpectedLength != 0 ? Req.ExpectedLength : info->Length;
    if (whole != 0 && *size > whole) return;
    if (Req.ExpectedLength != 0 && info->Length != 0 && info->Length != Req.ExpectedLength) return;
    // A download cut off after its last byte (while it was checked, say) is not trusted without
    // an answer: its last byte is asked for again, which also shows that the server still
    // serves what it began.
    Offset = whole != 0 && *size == whole ? whole - 1 : *size;
    if (Offset == 0) return;
    Validator = info->Validator;
}

void CInetFile::Transfer::DropPartial() {
    RemoveFile(LocalPath);
    if (Req.Kind == 2) RemoveFile(ResumeInfoPath(Req.TargetPath));
}

void CInetFile::Transfer::Download() {
    if (Url.empty()) Fail(kResultEmptyUrl);
    if (!Req.Sha256.empty()) {
        ExpectedDigest = ParseSha256Hex(Req.Sha256);
        if (!ExpectedDigest) Fail(kResultContent);
    }

    CurlUrl url(curl_url());
    if (!url) Fail(kResultConnect);
    // Spaces and non-ASCII letters in paths are escaped, as a browser would send them.
    if (curl_url_set(url.get(), CURLUPART_URL, Url.c_str(), CURLU_URLENCODE) != CURLUE_OK)
        Fail(kResultBadUrl);
    char* scheme = nullptr;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) Fail(kResultBadUrl);
    const bool web = std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0;
    curl_free(scheme);
    if (!web) Fail(kResultBadUrl);
    // The updater never sends credentials, not even ones written into the URL.
    curl_url_set(url.get(), CURLUPART_USER, nullptr, 0);
    curl_url_set(url.get(), CURLUPART_PASSWORD, nullptr, 0);

    LocalPath = Req.Kind == 2 ? UpdateFilePath(Req.TargetPath) : Req.TargetPath;
    for (const uint64_t cap : {Req.ExpectedLength, Req.MaxLength}) {
        if (cap != 0) Limit = Limit == 0 ? cap : std::min(Limit, cap);
    }
    FindPartial();

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
    const auto add = [&headers](const std::string& name, const std::string& value) {
        if (!FitsInAHeader(value)) return false;
        if (!headers.Append((name + ": " + value).c_str())) Fail(kResultConnect);
        return true;
    };
    Conditional = add("If-None-Match", Req.IfNoneMatch);
    Conditional = add("If-Modified-Since", Req.IfModifiedSince) || Conditional;
    // The rest of a partial, only while the server still serves what it began: otherwise the
    // answer is the whole body, which replaces the partial.
    if (Offset != 0 &&
        !(add("Range", "bytes=" + std::to_string(Offset) + "-") && add("If-Range", Validator)))
        Fail(kRestartFromZero);

    CurlEasy easy(curl_easy_init());
    CurlMulti multi(curl_multi_init());
    if (!easy || !multi) Fail(kResultConnect);
    // The shared cache counts the connections of every running transfer; at the default limit
    // (four per multi handle) a transfer that ends beside four others would close its idle
    // connection instead of leaving it for the next file.
    if (curl_multi_setopt(multi.get(), CURLMOPT_MAXCONNECTS, kCachedConnections) != CURLM_OK)
        Fail(kResultConnect);
    if (!Configure(easy.get(), url.get(), headers.Get())) Fail(kResultConnect);
    CurlMultiAttachment attachment(multi.get(), easy.get());
    if (!attachment.Ok()) Fail(kResultConnect);

    // A multi loop rather than curl_easy_perform: it wakes at least every slice, so a stop, the
    // rate floor and the time limit act within milliseconds even while the server sends nothing.
    const bool timed = Req.Kind == 1 && Req.TimeLimit.count() > 0;
    const Clock::time_point ends = Clock::now() + (timed ? Req.TimeLimit : kPollSlice);
    int running = 1;
    while (true) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) Fail(kResultConnect);
        if (running == 0) break;
        if (Stop.stop_requested()) Fail(kResultCancelled);
        // Bytes held back by the progress interval are reported even while the body stalls.
        Owner.PostProgress(Clock::now(), false);
        auto wait = kPollSlice;
        const auto now = Clock::now();
        // The server is too slow to be worth waiting for.
        if (!AwaitingConnection) wait = std::min(wait, Floor.Left(now));
        if (timed) wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(ends - now));
        if (wait.count() <= 0) Fail(kResultConnect);
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
        WasNotModified = true;
        return;
    }
    // Any other final response that is not 200 or the asked-for 206 (a 304 nobody asked for, a
    // redirect without a target) fails like a 404.
    if (Status != 200 && !(Status == 206 && Offset != 0)) Fail(kResultHttpStatus);
    if (!OpenLocalFile()) Fail(kResultLocalFile);
    // A body that ended early without announcing its length ends here.
    if (Req.ExpectedLength != 0 && BodyBytes != Req.ExpectedLength) Fail(kResultLength);
    // Checked before the file is synced: a wrong one is removed, and need not reach the disk.
    if (ExpectedDigest) {
        const std::optional<Sha256Digest> digest =
            File.Hashing() ? File.FinishHash() : Hash.Final();
        // Bytes a cut-off run kept may be what spoiled it (a network that changed them before
        // the cut): the whole file is fetched once more before the file is given up.
        if (digest != ExpectedDigest)
            Fail(Status == 206 && Offset != 0 ? kRestartFromZero : kResultContent);
    }
    // An ".update" file is renamed over the installed one next; its data must be on the disk
    // before that, or a power loss could leave an empty file installed.
    const bool update = Req.Kind == 2;
    if (!File.Close(update ? Req.FileMode : 0, update && Req.SyncOnClose)) Fail(kResultLocalFile);
    // Complete: nothing is left to continue.
    if (Resumable) RemoveFile(ResumeInfoPath(Req.TargetPath));
}

bool CInetFile::Transfer::OpenLocalFile() {
    if (File.IsOpen()) return true;
    if (Req.TargetPath.empty()) return false;
    if (Status == 206) {
        // Only the ".update" file this request continues, under the caller's lock.
        if (!File.Continue(LocalPath, Offset)) return false;
        OwnsFile = true;
        Resumable = true;
        BodyBytes = Offset;
        Owner.Report(Offset, 0, Clock::now());
    } else {
        // An ".update" file is only ever created, never truncated, unless the caller holds the
        // lock or an earlier attempt of this request made it: otherwise one already there is
        // another writer's.
        const bool update = Req.Kind == 2;
        const bool exclusive = update && !Req.Resume && !Created;
        if (!File.Open(LocalPath, exclusive)) return false;
        OwnsFile = update;
        Created = Created || update;
        if (update && Req.Resume && KeepsPartial && ExpectedDigest &&
            (Req.ExpectedLength == 0 || Req.ExpectedLength >= kResumableBytes)) {
            // What the next run needs to continue this body, should this one be cut off.
            const std::string validator = ResumeValidator(ETag, LastModified);
            const std::string info = ResumeInfoPath(Req.TargetPath);
            const uint64_t whole = ContentLength.value_or(0);
            Resumable = !validator.empty() && WriteResumeInfo(info, {Url, validator, whole});
        }
        // A description an earlier run left does not describe this body.
        if (update && FoundPartial && !Resumable) {
            RemoveFile(ResumeInfoPath(Req.TargetPath));
        }
    }
    // A large body is hashed beside the download rather than in its way; a small one is hashed
    // as it arrives, which costs less than a thread. Either way the hash covers what a continued
    // file held already.
    if (ExpectedDigest && Req.ExpectedLength >= kTrailingHashBytes && File.HashWhileWriting())
        return true;
    return !ExpectedDigest || HashExisting();
}

bool CInetFile::Transfer::HashExisting() {
    if (BodyBytes == 0) return true;
    const uint64_t done = File.ReadBack(
        BodyBytes, [this](const char* data, size_t size) { Hash.Update(data, size); });
    return done == BodyBytes;
}

int32_t CInetFile::Transfer::CheckAnnouncedLength() const {
    if (!ContentLength) return kResultOk;
    const uint64_t whole = *ContentLength + (Status == 206 ? Offset : 0);
    if (Req.ExpectedLength != 0 && whole != Req.ExpectedLength) return kResultLength;
    if (Req.MaxLength != 0 && whole > Req.MaxLength) return kResultLength;
    return kResultOk;
}

bool CInetFile::Transfer::Configure(CURL* easy, CURLU* url, curl_slist* headers) {
    const auto set = [easy](CURLoption option, auto value) {
        return curl_easy_setopt(easy, option, value) == CURLE_OK;
    };
    const long connectMs = static_cast<long>(Req.ConnectTimeout.count());
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

int CInetFile::Transfer::OnConnected(void* self, char*, char*, int, int) {
    auto& t = *static_cast<Transfer*>(self);
    t.AwaitingConnection = false;
    t.Floor.Restart(Clock::now());
    return CURL_PREREQFUNC_OK;
}

size_t CInetFile::Transfer::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    const size_t total = size * count;
    const std::string_view line(data, total);
    t.Floor.Arrived(total, Clock::now());
    if (const long status = StatusOfLine(line)) {
        t.Status = status;
        t.ContentLength.reset();
        t.Range.reset();
        t.ETag.clear();
        t.LastModified.clear();
        return total;
    }
    if (line == "\r\n" || line == "\n") return t.HeadersComplete(total);
    if (const auto length = ContentLengthOfLine(line)) t.ContentLength = length;
    if (const auto range = ContentRangeOfLine(line)) t.Range = range;
    if (const auto tag = HeaderValue(line, "etag:")) t.ETag = *tag;
    if (const auto time = HeaderValue(line, "last-modified:")) t.LastModified = *time;
    return total;
}

size_t CInetFile::Transfer::HeadersComplete(size_t total) {
    if (Status == 206 && Offset != 0) {
        // Exactly the rest of the partial, of the whole the partial was begun from; anything
        // else cannot be joined to it.
        const bool joins = Range && Range->First == Offset && Range->Total > Offset &&
                           Range->Last == Range->Total - 1 &&
                           (Req.ExpectedLength == 0 || Range->Total == Req.ExpectedLength);
        if (!joins) return StopWith(kRestartFromZero);
    }
    if (Status == 200 || (Status == 206 && Offset != 0)) {
        // A body announced at the wrong length is refused before anything is written.
        if (const int32_t code = CheckAnnouncedLength()) return StopWith(code);
        // The file is created here, not at the first body byte, so an empty body still makes one.
        return OpenLocalFile() ? total : StopWith(kResultLocalFile);
    }
    // The partial is longer than what the server now has, or it refuses ranges: start again.
    if (Status == 416 && Offset != 0) return StopWith(kRestartFromZero);
    // A redirect is followed by libcurl (a final one fails after the transfer); the rate window,
    // which its header lines fill, also bounds the connection to the new location.
    if (Status == 304 && Conditional) return total;
    if (Status >= 300 && Status < 400) return total;
    if (Status >= 100 && Status < 200) return total;  // an interim response
    return StopWith(kResultHttpStatus);
}

size_t CInetFile::Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    const size_t total = size * count;
    const auto now = Clock::now();
    t.Floor.Arrived(total, now);
    if (!t.File.IsOpen()) {
        // A body of a response that is not the one asked for is never written anywhere.
        if (t.Status != 200 && !(t.Status == 206 && t.Offset != 0))
            return t.StopWith(kResultHttpStatus);
        if (!t.OpenLocalFile()) return t.StopWith(kResultLocalFile);
    }
    // Bytes past the limit are neither written nor reported: the body is already known to be
    // wrong, and a server that sends without end must not fill the disk.
    size_t wanted = total;
    if (t.Limit != 0)
        wanted = static_cast<size_t>(std::min<uint64_t>(total, t.Limit - t.BodyBytes));
    // The block is counted chunk by chunk first and then handed to the file in one piece, so a
    // large block goes to the disk without being copied. Only chunks up to the one after which a
    // stop was seen are written; the receiver cannot tell the order apart, since it never sees
    // the buffer, and a failed write ends the transfer with code 7 either way.
    size_t accepted = 0;
    bool stopped = false;
    while (accepted < wanted && !stopped) {
        const size_t n = std::min(kChunkBytes, wanted - accepted);
        accepted += n;
        t.Owner.Report(n, static_cast<uint32_t>(n), now);
        stopped = t.Stop.stop_requested();
    }
    t.BodyBytes += accepted;
    if (!t.File.Append(data, accepted)) return t.StopWith(kResultLocalFile);
    if (t.ExpectedDigest && !t.File.Hashing()) t.Hash.Update(data, accepted);
    if (stopped) return t.StopWith(kResultCancelled);
    if (accepted < total) return t.StopWith(kResultLength);
    return total;
}

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

void CInetFile::Cancel() { Worker.request_stop(); }

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
    Sink->PostMessage(WM_DOWNLOAD_PROGRESS, MakeNotifyParam(Req.Kind, LastChunk), this);
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
            if (code == kResultOk) {
                Outcome.NotModified = attempt.NotModified();
                Outcome.ETag = attempt.ETagSeen();
                Outcome.LastModified = attempt.LastModifiedSeen();
            }
            if (code != kRestartFromZero) break;
            mayContinue = false;
        }
        Outcome.AnsweredBy = url;
        if (!MirrorCouldHelp(code, status) || stop.stop_requested()) break;
    }
    return code;
}

std::optional<int32_t> CInetFile::FetchByPatch(const std::stop_token& stop) {
    const std::optional<Sha256Digest> wanted = ParseSha256Hex(Req.Sha256);
    std::vector<const TransferPatch*> offered;
    for (const TransferPatch& p : Req.Patches)
        if (PatchWorthFetching(p.Length, Req.ExpectedLength)) offered.push_back(&p);
    if (Req.Kind != 2 || offered.empty() || !wanted) return std::nullopt;
    // The installed file is hashed only now, once, and only because a patch may start from it.
    // With one patch on offer there is nothing to choose, so the hash is taken beside fetching
    // and applying it, and only checked at the end.
    std::future<std::optional<Sha256Digest>> installed;
    const TransferPatch* chosen = nullptr;
    if (offered.size() == 1) {
        try {
            installed = std::async(std::launch::async, HashOfFile, Req.TargetPath, stop);
            chosen = offered.front();
        } catch (const std::system_error&) {
        }
    }
    if (!chosen) {
        std::promise<std::optional<Sha256Digest>> now;
        const std::optional<Sha256Digest> hash = HashOfFile(Req.TargetPath, stop);
        now.set_value(hash);
        installed = now.get_future();
        for (const TransferPatch* p : offered)
            if (!chosen && hash && ParseSha256Hex(p->FromSha256) == hash) chosen = p;
        if (!chosen) return std::nullopt;
    }
    const auto fromInstalled = [&] {
        const std::optional<Sha256Digest> hash = installed.get();
        return hash && ParseSha256Hex(chosen->FromSha256) == hash;
    };

    // The patch is fetched like a file of its own beside the target, with every limit of one.
    TransferRequest fetch;
    fetch.Kind = 2;
    fetch.URL = chosen->URL;
    fetch.Mirrors = Req.Mirrors;
    fetch.TargetPath = PatchTargetPath(Req.TargetPath);
    fetch.Resume = Req.Resume;
    fetch.ExpectedLength = chosen->Length;
    fetch.SyncOnClose = false;
    fetch.ConnectTimeout = Req.ConnectTimeout;
    fetch.MinimumRate = Req.MinimumRate;
    fetch.RateWindow = Req.RateWindow;
    fetch.RateGrace = Req.RateGrace;
    const int32_t code = Fetch(fetch, stop, false);
    const std::string patchPath = UpdateFilePath(fetch.TargetPath);
    // A patch is small: one cut off is fetched again rather than continued, so nothing of it is
    // kept. Under the lock whatever its download left is ours; without it, a failed attempt has
    // removed what it made, and anything else is another writer's.
    if (code != kResultOk && Req.Resume) RemoveDownloadLeftovers(fetch.TargetPath);
    if (code == kResultOk && stop.stop_requested()) RemoveFile(patchPath);
    if (code == kResultCancelled || stop.stop_requested()) return kResultCancelled;
    if (code != kResultOk) return std::nullopt;

    const PatchOutput out{UpdateFilePath(Req.TargetPath), Req.ExpectedLength, Req.Resume,
                          Req.FileMode, Req.SyncOnClose};
    const std::optional<Sha256Digest> made = ApplyPatch(Req.TargetPath, patchPath, out);
    RemoveFile(patchPath);
    // A result of the right hash from another source cannot happen, but the patch is used only
    // for the file it was made from, as the catalogue says.
    if (made != wanted || !fromInstalled()) {
        if (made) RemoveFile(out.Path);
        return std::nullopt;
    }
    // A partial of the whole file an earlier run left is of no use now.
    if (Req.Resume) RemoveFile(ResumeInfoPath(Req.TargetPath));
    // The bars end full: what the patch saved counts as received.
    const uint64_t fetched = ReceivedBytes.load(std::memory_order_relaxed);
    ReceivedBytes.store(0, std::memory_order_relaxed);
    Report(Req.ExpectedLength > fetched ? Req.ExpectedLength - fetched : 0, 0, Clock::now());
    ReceivedBytes.store(Req.ExpectedLength, std::memory_order_relaxed);
    Outcome.AnsweredBy = chosen->URL;
    return kResultOk;
}

void CInetFile::Run(std::stop_token stop) {
    int32_t code = kResultOk;
    try {
        if (Req.Kind == 2 && Req.Resume) ClearOwnPaths(Req.TargetPath, !Req.Patches.empty());
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
    if (Sink) Sink->PostMessage(WM_DOWNLOAD_COMPLETE, MakeNotifyParam(Req.Kind, code), this);
}

}  // namespace toval
