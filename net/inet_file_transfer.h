#pragma once
// One attempt of CInetFile on one URL. Private to net/: its members are defined apart, the
// request and its answer in inet_file_transfer.cpp, the local file in inet_file_local.cpp.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>

#include "net/BufferedFile.h"
#include "net/CInetFile.h"
#include "net/answer_headers.h"
#include "net/curl_handles.h"
#include "net/network_loop.h"
#include "net/rate_floor.h"
#include "net/result_codes.h"
#include "platform/crypto.h"

namespace toval {

inline constexpr size_t kWriteBufferBytes = 256 * 1024;

// How one attempt ended: with the transfer's result code, or, when its Range request could not
// continue the partial file (which is then dropped), asking for the same URL again from byte 0.
struct AttemptEnd {
    int32_t Code = kResultOk;
    bool FromZeroAgain = false;

    static AttemptEnd With(int32_t code) { return {code, false}; }
    static AttemptEnd Restart() { return {kResultOk, true}; }
    bool Failed() const { return Code != kResultOk || FromZeroAgain; }
};

// Prepared by whoever starts it; run and concluded on the network loop's thread, which calls the
// header and body callbacks and Check.
class CInetFile::Transfer final : private NetworkLoop::Job {
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

    // Sends the request out on the network loop, which ends the attempt later; or, when it could
    // not be sent, how it ended, at once. By the time the end is known, a file the attempt made
    // and that can be of no use is gone.
    std::optional<AttemptEnd> Begin();
    // The status of the last response seen; 0 when none came.
    long LastStatus() const { return Status; }
    bool NotModified() const { return WasNotModified; }
    const std::string& ETagSeen() const { return ETag; }
    const std::string& LastModifiedSeen() const { return LastModified; }
    // Whether the answer continued a partial file, and the body bytes this attempt brought.
    bool Continued() const { return Status == 206 && Offset != 0; }
    uint64_t Fetched() const { return Continued() ? BodyBytes - Offset : BodyBytes; }
    bool Multiplexed() const { return OverHttp2; }

  private:
    // Everything up to the request going out: the URL, the headers, a partial to continue.
    AttemptEnd Prepare();
    // What the answer that came means for the file.
    AttemptEnd Conclude(CURLcode result);
    // Removes what the attempt made when it can be of no use; `end`.
    AttemptEnd Finish(AttemptEnd end);

    CURL* Easy() override { return EasyHandle.get(); }
    NetworkLoop::Turn Check(NetworkLoop::Clock::time_point now) override;
    void Ended(CURLcode result, int32_t ended) override;

    // Looks for a partial ".update" file that this request may continue; sets Offset.
    void FindPartial();
    void DropPartial();
    // What the file holds could be continued by a later run of the same request.
    bool Continuable() const {
        return Req.Writes == BodyTarget::UpdateFile && Req.Resume && KeepsPartial && Resumable &&
               BodyBytes > 0 && (Req.ExpectedLength == 0 || BodyBytes < Req.ExpectedLength);
    }
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static int OnConnected(void* self, char*, char*, int, int);
    size_t HeadersComplete(size_t total);

    // False when libcurl refuses an option, so that no restriction is silently dropped.
    bool Configure();
    // libcurl callbacks cannot throw; they stop the transfer and leave the code here.
    size_t StopWith(AttemptEnd end) {
        Pending = end;
        return 0;
    }
    // A transfer without a target has nowhere to write; it must not fall back to the current
    // directory. A continued file opens at its end, with what it holds already hashed.
    bool OpenLocalFile();
    bool HashExisting();
    // The code that the announced length of a final response fails with; kResultOk when it has
    // none or it is acceptable.
    int32_t CheckAnnouncedLength() const;

    CInetFile& Owner;
    const TransferRequest& Req;
    const std::string Url;
    const std::stop_token Stop;
    const bool MayContinue;
    const bool KeepsPartial;
    bool& Created;
    std::string LocalPath;
    BufferedFile File;
    std::optional<AttemptEnd> Pending;  // set by a callback that stopped the transfer
    long Status = 0;  // of the response whose headers are being read or were read last
    std::optional<uint64_t> ContentLength;  // of that response, when it announced one
    std::optional<ContentRange> Range;      // of that response, when it gave one
    std::string ETag, LastModified;         // of that response
    bool Conditional = false;               // validators were sent: a 304 is an answer
    bool Secure = false;                    // an https:// URL
    bool OverHttp2 = false;                 // the answer came over HTTP/2
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
    // Set by the player's cap: receiving waits until then.
    NetworkLoop::Clock::time_point HoldUntil{};
    std::optional<NetworkLoop::Clock::time_point> HeldSince;
    NetworkLoop::Clock::time_point Ends = NetworkLoop::Clock::time_point::max();  // a time limit

    CurlUrl UrlHandle;
    CurlSlist Headers;
    CurlEasy EasyHandle;
};

}  // namespace toval
