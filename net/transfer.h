#pragma once
// The seam between the update run and the downloader: what to fetch (a request value), the
// transfer that fetches it on a worker of its own, and what came of it (a result set once, at the
// end). The run only ever sees this interface, so its tests can drive it without a server where
// a server adds nothing.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/messages.h"
#include "net/rate_cap.h"
#include "net/result_codes.h"
#include "platform/crypto.h"
#include "platform/file_identity.h"

namespace toval {

// The SHA-256 of the installed file as the caller knows it (from its hash cache), with the
// identity of the file it was taken of: while the file keeps that identity it is not read again
// to choose a patch.
struct InstalledDigest {
    FileIdentity Identity;
    Sha256Digest Digest{};
};

// A patch that makes the requested file out of an earlier version of it.
struct TransferPatch {
    std::string FromSha256;  // the earlier version's
    std::string URL;
    uint64_t Length = 0;
};

// Where a transfer puts the body.
enum class BodyTarget {
    // A client file's ".update" file beside TargetPath, which the run installs later: it may be
    // continued (Resume), is given FileMode and is synced, and a patch may make it instead.
    UpdateFile,
    // TargetPath itself, overwritten (the catalogue and its signature, into temporary files).
    Path,
};

struct TransferRequest {
    // Posted with every notification, so the receiver can tell a catalogue (1) from a file (2);
    // nothing else about the transfer depends on it.
    int32_t Kind = 2;
    BodyTarget Writes = BodyTarget::UpdateFile;
    std::string URL;
    // Origins ("http://host[:port]") that serve the same paths as URL's server. When URL fails by
    // connection, stall, minimum rate, 404 or 5xx, the same path is tried on each, in order.
    std::vector<std::string> Mirrors;
    // Whether a 404 from URL's server sends the request on to the mirrors. A catalogue's
    // signature must come from the server of the catalogue it signs: a mirror's signs the
    // mirror's catalogue, which may be another, so only a server that cannot answer gives way.
    bool MirrorOnNotFound = true;
    std::string TargetPath;
    // An update file: the caller guarantees that no other writer touches the ".update" file (it
    // holds the run lock), so a partial one left by an interrupted run is continued where it
    // stopped, when its server still serves the same content, and anything but a regular file
    // standing at its own paths is removed unopened. Without it the file is created exclusively,
    // and one already there is another writer's (code 7).
    bool Resume = false;
    // The body's length when known (0: unknown, nothing is checked). A body of any other length,
    // or a Content-Length that announces one, fails with code 10.
    uint64_t ExpectedLength = 0;
    // Asks for the body gzip-compressed and decodes it, where the network library can: for the
    // catalogue, whose text packs tightly. A file's Length and Sha256 are of its bytes as
    // published, so files never ask. The limits below apply to the decoded bytes.
    bool AcceptCompressed = false;
    // A body longer than this (0: no cap) fails with code 10 as soon as it is seen to be.
    uint64_t MaxLength = 0;
    // The SHA-256 the body must have, in 64 hexadecimal digits of either case (empty: none).
    // Another digest fails with code 11, and so does a value that is no digest, before anything
    // is fetched. A file that fails code 7, 10 or 11 is removed.
    std::string Sha256;
    // When non-zero, the mode a finished ".update" file is given.
    uint32_t FileMode = 0;
    // An update file with a Sha256: patches from earlier versions. When the file at TargetPath is
    // one of them, its patch is fetched (with every limit of a file) and applied instead of the
    // whole file; anything amiss with it falls back to the whole file within the same transfer.
    std::vector<TransferPatch> Patches;
    std::optional<InstalledDigest> Installed;
    // A conditional request: validators of a copy the caller keeps (empty: none are sent). A 304
    // answer then completes with code 0, nothing written, and NotModified set.
    std::string IfNoneMatch;
    std::string IfModifiedSince;
    // A finished ".update" file is synced before the completion is posted. A caller that syncs
    // many files at once (one syncfs for a batch) turns this off.
    bool SyncOnClose = true;
    // A connection that cannot be made within ConnectTimeout fails with code 2.
    std::chrono::milliseconds ConnectTimeout{60000};
    // Once connected, a server that sends less than MinimumRate bytes a second, averaged over
    // RateWindow, fails with code 2: a byte now and then keeps nothing alive. The first window is
    // longer by RateGrace (handshakes, slow start, a server slow to begin). The floor is far below
    // any real link, even one shared by the transfers that run at once (2 KiB/s each is a
    // 10 KiB/s link split five ways); a zero RateWindow turns it off.
    uint64_t MinimumRate = 2048;
    std::chrono::milliseconds RateWindow{30000};
    std::chrono::milliseconds RateGrace{30000};
    // A server that has not finished within TimeLimit fails with code 2, and the next mirror is
    // tried with a limit of its own; zero: no limit. The catalogue and its signature, which the
    // run waits for before anything else, have one. Files have none: a large one on a slow link
    // takes as long as it takes, at no less than the minimum rate.
    std::chrono::milliseconds TimeLimit{0};
    // The updater's shared download budget (--max-rate); none: no cap.
    std::shared_ptr<RateCap> Cap;
};

struct TransferResult {
    int32_t Code = kResultOk;
    std::string ErrorText = kInitialErrorText;
    bool NotModified = false;
    // The validators of the 200 answer that filled the file, for the next conditional request.
    std::string ETag;
    std::string LastModified;
    // The URL that gave the final answer: the request's own, or the same path on a mirror.
    std::string AnsweredBy;
    // For the run's log: the final answer's HTTP status (0: none came), the body bytes this
    // transfer fetched (not what a continued file already had), whether a partial file was
    // continued, and whether the file was made by a patch.
    int32_t HttpStatus = 0;
    uint64_t FetchedBytes = 0;
    bool Resumed = false;
    bool Patched = false;
    // The final answer came over HTTP/2, where many transfers share one connection.
    bool Multiplexed = false;
};

class ITransfer {
  public:
    // Stops the worker and waits for it.
    virtual ~ITransfer() = default;

    virtual const TransferRequest& Request() const = 0;
    // Starts the worker; false when none could be started. A transfer runs once.
    virtual bool Start() = 0;
    // Asks the worker to stop; it completes with code 8 within milliseconds.
    virtual void Cancel() = 0;
    // Waits until the worker has ended (at once when it never started); Result is then final.
    virtual void Join() = 0;
    // Bytes received since the receiver last took them; call once per WM_DOWNLOAD_PROGRESS. A
    // notification is posted only while none is outstanding, so the receiver is never flooded;
    // by the time WM_DOWNLOAD_COMPLETE is handled, every byte has been taken.
    virtual uint64_t TakeProgress() = 0;
    // The body bytes the file holds so far (a continued file counts what it had).
    virtual uint64_t Received() const = 0;
    // Set once by the worker just before WM_DOWNLOAD_COMPLETE is posted; read it after that.
    virtual const TransferResult& Result() const = 0;
};

using TransferFactory =
    std::function<std::unique_ptr<ITransfer>(TransferRequest request, IMessageSink& sink)>;
// Makes the real downloader (CInetFile).
TransferFactory DefaultTransferFactory();

}  // namespace toval
