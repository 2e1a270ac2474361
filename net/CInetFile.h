#pragma once
// One HTTP download of one URL into one local file, on a worker thread of its own.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "net/CWorkerThread.h"
#include "net/messages.h"

namespace toval {

// Result codes of a transfer; the user-facing texts stand beside them in result_codes.cpp.
enum ResultCode : int32_t {
    kResultOk = 0,
    kResultBadUrl = 1,
    kResultConnect = 2,
    kResultRedirect = 3,
    kResultRedirectUrl = 4,
    kResultNotHttp = 5,
    kResultHttpStatus = 6,
    kResultLocalFile = 7,
    kResultCancelled = 8,
    kResultEmptyUrl = 9,
    kResultLength = 10,
    kResultContent = 11,
};

// The text Raise stores for a code (codes outside 1..11 take the fallback text).
const char* ResultCodeText(int32_t code);
// The initial ErrorText of every transfer.
extern const char* const kInitialErrorText;

class CInetFile : public CWorkerThread {
  public:
    class CInetFileException {
      public:
        explicit CInetFileException(int32_t code) : Code(code) {}
        int32_t Code;
    };

    CInetFile();
    ~CInetFile() override;  // sets Cancel and joins

    // Increments StartCount, joins any previous run, clears Cancel and starts the worker.
    bool Start();
    std::string GetErrorText() const;

    // Bytes received since the receiver last took them, and re-arms the progress notification.
    // A progress notification is posted only while none is outstanding, and at most one per
    // progress interval (a few milliseconds), so the receiver is never flooded; summing what this
    // returns gives exactly the bytes written. Call it once per handled WM_DOWNLOAD_PROGRESS; it
    // may return 0 when an earlier call already took the bytes. By the time WM_DOWNLOAD_COMPLETE is
    // handled, every byte of the transfer has been taken.
    uint64_t TakeProgress();

    std::string ErrorText = kInitialErrorText;
    bool StatusCallback = false;
    int32_t Kind = 2;
    // Kind 2 creates UpdateFilePath(TargetPath), which must not exist yet (code 7 when it does),
    // and removes it again on a code 7, 10 or 11; other kinds overwrite TargetPath itself.
    std::string TargetPath;
    std::string FileName;
    std::string URL;
    IMessageSink* NotifyWindow = nullptr;
    std::string ServerName;
    std::atomic<bool> Cancel{false};
    int32_t StartCount = 0;
    std::atomic<uint64_t> Received{0};
    // The body's length when known (0: unknown, nothing is checked). A body of any other length,
    // or a Content-Length that announces one, fails with code 10.
    uint64_t ExpectedLength = 0;
    // A body longer than this (0: no cap) fails with code 10 as soon as it is seen to be.
    uint64_t MaxLength = 0;
    // The SHA-256 the body must have, in 64 hexadecimal digits of either case (empty: none). The
    // body is hashed as it is written, so checking costs no second read of the file; another
    // digest fails with code 11, and so does a value that is no digest, before anything is fetched.
    std::string Sha256;
    // When non-zero, the mode a finished ".update" file is given.
    uint32_t FileMode = 0;
    // A conditional request: validators of a copy the caller keeps (empty: none are sent). A
    // 304 answer then completes with code 0, nothing written, and NotModified set.
    std::string IfNoneMatch;
    std::string IfModifiedSince;
    bool NotModified = false;
    // The validators of the 200 answer that filled the file, for the next conditional request.
    std::string ETag;
    std::string LastModified;
    // A finished ".update" file is synced to the disk before the completion is posted. A caller
    // that syncs many files at once (one syncfs for a batch) turns this off.
    bool SyncOnClose = true;
    bool Register = false;
    bool ZipFile = false;
    bool ForceOverwrite = false;
    bool Execute = false;
    std::string ExecutePar;

    // A connection that cannot be made, or a server that sends fewer than MinimumBytes in any
    // StallLimit once connected, ends the transfer with code 2 instead of holding the updater: a
    // byte now and then does not keep a transfer alive. A StallLimit of zero turns this off.
    std::chrono::milliseconds ConnectTimeout{60000};
    std::chrono::milliseconds StallLimit{60000};
    uint64_t MinimumBytes = 1024;

  protected:
    void Run() override;

  private:
    class Transfer;  // the state of one run, owning its libcurl handles and local file

    [[noreturn]] void Raise(int32_t code);
    void ReportChunk(uint32_t bytes, std::chrono::steady_clock::time_point now);
    // Posts WM_DOWNLOAD_PROGRESS for bytes not yet taken, unless one is outstanding or (without
    // `force`) one was posted less than a progress interval ago.
    void PostProgress(std::chrono::steady_clock::time_point now, bool force);

    std::atomic<uint64_t> UnreportedBytes{0};
    std::atomic<bool> ProgressOutstanding{false};
    // The worker's own: when it last posted progress, and the size of its last chunk.
    std::chrono::steady_clock::time_point LastProgressPost{};
    uint32_t LastChunk = 0;
};

}  // namespace toval
