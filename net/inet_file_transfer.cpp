#include "net/inet_file_transfer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>

#include "net/network_library.h"
#include "net/update_path.h"
#include "platform/file_handle.h"
#include "platform/system_proxy.h"

namespace toval {

namespace {

constexpr size_t kChunkBytes = 1024;  // the unit of progress and of the cancel check
constexpr long kMaxRedirects = 20;

using Clock = std::chrono::steady_clock;

}  // namespace

std::optional<AttemptEnd> CInetFile::Transfer::Begin() {
    AttemptEnd end = Prepare();
    if (!end.Failed()) {
        if (Req.TimeLimit.count() > 0) Ends = Clock::now() + Req.TimeLimit;
        if (Owner.Loop && Owner.Loop->Add(*this)) return std::nullopt;
        end = AttemptEnd::With(kResultConnect);
    }
    return Finish(end);
}

void CInetFile::Transfer::Ended(CURLcode result, int32_t ended) {
    const AttemptEnd end = Finish(ended != kResultOk ? AttemptEnd::With(ended) : Conclude(result));
    // Last: the owner may start the next attempt, and this one may go once it has returned.
    Owner.AttemptEnded(end);
}

AttemptEnd CInetFile::Transfer::Finish(AttemptEnd end) {
    const int32_t code = end.Code;
    if (end.FromZeroAgain) {
        File.Discard();
        DropPartial();
        return end;
    }
    // A file that could not be written out, or whose length or content is wrong, is of no use
    // and must not be installed, nor continued. Only a file this transfer may own is removed:
    // when an exclusive open found one already there, it belongs to another writer.
    // A partial that a later run could not continue is not left behind either.
    if (code != kResultOk && OwnsFile &&
        (code == kResultLocalFile || code == kResultLength || code == kResultContent ||
         !Continuable())) {
        File.Discard();
        DropPartial();
    }
    // The file closes (a partial kept to continue with what it holds) and the handles go before
    // the owner hears of the end, so the receiver may rename or read the file at once.
    File.Close();
    EasyHandle.reset();
    return end;
}

AttemptEnd CInetFile::Transfer::Prepare() {
    if (Url.empty()) return AttemptEnd::With(kResultEmptyUrl);
    if (!Req.Sha256.empty()) {
        ExpectedDigest = ParseSha256Hex(Req.Sha256);
        if (!ExpectedDigest) return AttemptEnd::With(kResultContent);
    }

    UrlHandle.reset(curl_url());
    CURLU* url = UrlHandle.get();
    if (!url) return AttemptEnd::With(kResultConnect);
    // Spaces and non-ASCII letters in paths are escaped, as a browser would send them.
    if (curl_url_set(url, CURLUPART_URL, Url.c_str(), CURLU_URLENCODE) != CURLUE_OK)
        return AttemptEnd::With(kResultBadUrl);
    char* scheme = nullptr;
    if (curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
        return AttemptEnd::With(kResultBadUrl);
    const bool web = std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0;
    Secure = std::strcmp(scheme, "https") == 0;
    curl_free(scheme);
    if (!web) return AttemptEnd::With(kResultBadUrl);
    // The updater never sends credentials, not even ones written into the URL.
    curl_url_set(url, CURLUPART_USER, nullptr, 0);
    curl_url_set(url, CURLUPART_PASSWORD, nullptr, 0);

    LocalPath =
        Req.Writes == BodyTarget::UpdateFile ? UpdateFilePath(Req.TargetPath) : Req.TargetPath;
    for (const uint64_t cap : {Req.ExpectedLength, Req.MaxLength}) {
        if (cap != 0) Limit = Limit == 0 ? cap : std::min(Limit, cap);
    }
    FindPartial();

    // libcurl replaces its own Accept by ours, so the server sees exactly one. The session agent
    // "Renewer - MFC App" is already on the request, so the agent added only where none is present
    // is not sent.
    // Over http:// the request line stays HTTP/1.0, as servers, proxies and their logs know it;
    // keep-alive is asked for, so the next file can come over the same connection (HTTP/2 has
    // no such header, and libcurl leaves it out there).
    if (!Headers.Append("Accept: */*") || !Headers.Append("Pragma: no-cache") ||
        !Headers.Append("Cache-Control: no-cache") || !Headers.Append("Connection: keep-alive"))
        return AttemptEnd::With(kResultConnect);
    // The cache-bypassing headers stay: a cache between us and the server revalidates at the
    // origin, and only the origin's answer decides whether the kept copy is current.
    bool appended = true;
    const auto add = [&](const std::string& name, const std::string& value) {
        if (!FitsInAHeader(value)) return false;
        appended = Headers.Append((name + ": " + value).c_str()) && appended;
        return true;
    };
    Conditional = add("If-None-Match", Req.IfNoneMatch);
    Conditional = add("If-Modified-Since", Req.IfModifiedSince) || Conditional;
    // The rest of a partial, only while the server still serves what it began: otherwise the
    // answer is the whole body, which replaces the partial.
    if (Offset != 0 &&
        !(add("Range", "bytes=" + std::to_string(Offset) + "-") && add("If-Range", Validator)))
        return AttemptEnd::Restart();
    if (!appended) return AttemptEnd::With(kResultConnect);

    EasyHandle.reset(curl_easy_init());
    if (!EasyHandle || !Configure()) return AttemptEnd::With(kResultConnect);
    return {};
}

NetworkLoop::Turn CInetFile::Transfer::Check(Clock::time_point now) {
    NetworkLoop::Turn turn;
    if (Stop.stop_requested()) {
        turn.End = kResultCancelled;
        return turn;
    }
    // Bytes held back by the progress interval are reported even while the body stalls.
    Owner.PostProgress(now, false);
    // The player's cap paused receiving; it resumes once the budget allows, and the server is
    // not measured meanwhile.
    if (HeldSince) {
        if (now < HoldUntil) {
            turn.Next = HoldUntil;
        } else {
            Floor.Paused(std::chrono::ceil<std::chrono::milliseconds>(now - *HeldSince));
            HeldSince.reset();
            // Delivers what libcurl kept back, through OnBody, which may pause again.
            curl_easy_pause(EasyHandle.get(), CURLPAUSE_CONT);
        }
    }
    // The server is too slow to be worth waiting for, or the time limit has passed.
    if (!HeldSince && !AwaitingConnection) {
        const std::chrono::milliseconds left = Floor.Left(now);
        if (left.count() <= 0)
            turn.End = kResultConnect;
        else if (left < std::chrono::hours(24 * 365))
            turn.Next = std::min(turn.Next, now + left);
    }
    if (now >= Ends) turn.End = kResultConnect;
    turn.Next = std::min(turn.Next, Ends);
    return turn;
}

AttemptEnd CInetFile::Transfer::Conclude(CURLcode result) {
    long version = 0;
    OverHttp2 = curl_easy_getinfo(EasyHandle.get(), CURLINFO_HTTP_VERSION, &version) == CURLE_OK &&
                version == CURL_HTTP_VERSION_2_0;
    if (Pending) return *Pending;
    if (result != CURLE_OK) return AttemptEnd::With(kResultConnect);
    // The copy the caller keeps is current: nothing was written, nothing is to be.
    if (Status == 304 && Conditional) {
        WasNotModified = true;
        return {};
    }
    // Any other final response that is not 200 or the asked-for 206 (a 304 nobody asked for, a
    // redirect without a target) fails like a 404.
    if (Status != 200 && !(Status == 206 && Offset != 0))
        return AttemptEnd::With(kResultHttpStatus);
    if (!OpenLocalFile()) return AttemptEnd::With(kResultLocalFile);
    // A body that ended early without announcing its length ends here.
    if (Req.ExpectedLength != 0 && BodyBytes != Req.ExpectedLength)
        return AttemptEnd::With(kResultLength);
    // Checked before the file is synced: a wrong one is removed, and need not reach the disk.
    if (ExpectedDigest) {
        const std::optional<Sha256Digest> digest =
            File.Hashing() ? File.FinishHash() : Hash.Final();
        // Bytes a cut-off run kept may be what spoiled it (a network that changed them before
        // the cut): the whole file is fetched once more before the file is given up.
        if (digest != ExpectedDigest)
            return Status == 206 && Offset != 0 ? AttemptEnd::Restart()
                                                : AttemptEnd::With(kResultContent);
    }
    // An ".update" file is renamed over the installed one next; its data must be on the disk
    // before that, or a power loss could leave an empty file installed.
    const bool update = Req.Writes == BodyTarget::UpdateFile;
    if (!File.Close(update ? Req.FileMode : 0, update && Req.SyncOnClose))
        return AttemptEnd::With(kResultLocalFile);
    // Complete: nothing is left to continue.
    if (Resumable) RemoveFile(ResumeInfoPath(Req.TargetPath));
    return {};
}

int32_t CInetFile::Transfer::CheckAnnouncedLength() const {
    if (!ContentLength) return kResultOk;
    const uint64_t whole = *ContentLength + (Status == 206 ? Offset : 0);
    if (Req.ExpectedLength != 0 && whole != Req.ExpectedLength) return kResultLength;
    if (Req.MaxLength != 0 && whole > Req.MaxLength) return kResultLength;
    return kResultOk;
}

bool CInetFile::Transfer::Configure() {
    CURL* easy = EasyHandle.get();
    const auto set = [easy](CURLoption option, auto value) {
        return curl_easy_setopt(easy, option, value) == CURLE_OK;
    };
    const long connectMs = static_cast<long>(Req.ConnectTimeout.count());
    // HTTP/2 where the server offers it over TLS, waiting for the connection to say so rather
    // than opening one more for every file that starts meanwhile.
    const long version = Secure ? CURL_HTTP_VERSION_2TLS : CURL_HTTP_VERSION_1_0;
    const std::optional<std::string> proxy = SystemProxyFor(Url);
    return set(CURLOPT_CURLU, UrlHandle.get()) && set(CURLOPT_HTTPGET, 1L) &&
           set(CURLOPT_HTTP_VERSION, version) && (!Secure || set(CURLOPT_PIPEWAIT, 1L)) &&
           set(CURLOPT_USERAGENT, "Renewer - MFC App") && set(CURLOPT_HTTPHEADER, Headers.Get()) &&
           set(CURLOPT_PROTOCOLS_STR, "http,https") && set(CURLOPT_FOLLOWLOCATION, 1L) &&
           set(CURLOPT_MAXREDIRS, kMaxRedirects) &&
           set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https") && set(CURLOPT_NOSIGNAL, 1L) &&
           set(CURLOPT_CONNECTTIMEOUT_MS, connectMs) && set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) &&
           set(CURLOPT_BUFFERSIZE, static_cast<long>(kWriteBufferBytes)) &&
           set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader) && set(CURLOPT_HEADERDATA, this) &&
           set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody) && set(CURLOPT_WRITEDATA, this) &&
           set(CURLOPT_PREREQFUNCTION, &Transfer::OnConnected) && set(CURLOPT_PREREQDATA, this) &&
           NetworkLibrary::TrustFrom(easy) && (!proxy || set(CURLOPT_PROXY, proxy->c_str())) &&
           (!Req.AcceptCompressed || !NetworkLibrary::DecodesGzip() ||
            set(CURLOPT_ACCEPT_ENCODING, "gzip"));
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
        if (!joins) return StopWith(AttemptEnd::Restart());
    }
    if (Status == 200 || (Status == 206 && Offset != 0)) {
        // A body announced at the wrong length is refused before anything is written.
        if (const int32_t code = CheckAnnouncedLength()) return StopWith(AttemptEnd::With(code));
        // The file is created here, not at the first body byte, so an empty body still makes one.
        return OpenLocalFile() ? total : StopWith(AttemptEnd::With(kResultLocalFile));
    }
    // The partial is longer than what the server now has, or it refuses ranges: start again.
    if (Status == 416 && Offset != 0) return StopWith(AttemptEnd::Restart());
    // A redirect is followed by libcurl (a final one fails after the transfer); the rate window,
    // which its header lines fill, also bounds the connection to the new location.
    if (Status == 304 && Conditional) return total;
    if (Status >= 300 && Status < 400) return total;
    if (Status >= 100 && Status < 200) return total;  // an interim response
    return StopWith(AttemptEnd::With(kResultHttpStatus));
}

size_t CInetFile::Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    const size_t total = size * count;
    const auto now = Clock::now();
    // Over the player's cap: libcurl keeps this block, to hand it over again, and the server is
    // told to wait (TCP's or HTTP/2's flow control) until the loop resumes the transfer.
    if (t.Req.Cap && now < t.HoldUntil) {
        if (!t.HeldSince) t.HeldSince = now;
        return CURL_WRITEFUNC_PAUSE;
    }
    t.Floor.Arrived(total, now);
    if (!t.File.IsOpen()) {
        // A body of a response that is not the one asked for is never written anywhere.
        if (t.Status != 200 && !(t.Status == 206 && t.Offset != 0))
            return t.StopWith(AttemptEnd::With(kResultHttpStatus));
        if (!t.OpenLocalFile()) return t.StopWith(AttemptEnd::With(kResultLocalFile));
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
    if (!t.File.Append(data, accepted)) return t.StopWith(AttemptEnd::With(kResultLocalFile));
    if (t.ExpectedDigest && !t.File.Hashing()) t.Hash.Update(data, accepted);
    if (stopped) return t.StopWith(AttemptEnd::With(kResultCancelled));
    if (accepted < total) return t.StopWith(AttemptEnd::With(kResultLength));
    if (t.Req.Cap) t.HoldUntil = t.Req.Cap->Reserve(accepted, now);
    return total;
}

}  // namespace toval
