#pragma once
// The update run: from queuing the catalogue transfer to installing the last file. It coordinates
// three parts: the catalogue fetch (signature, catalogue, kept copy, trust), the download
// scheduler (queue, start window, the file shown) and the installer (sync, rename, journaled
// actions).
//
// The run is single-threaded: every member is called on the one thread that created it (the
// front end's loop), one handler at a time, so nothing here takes a lock. A message box's nested
// loop may call handlers again before the outer one returns; the run's stage and the depth of
// open boxes decide what may happen then. Transfers' worker threads never touch the run: they
// post messages (IRunHost) and write only their own atomic counters. Debug builds check the
// thread on every entry.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "catalog/CServerList.h"
#include "catalog/CUpdateCatalog.h"
#include "catalog/hash_cache.h"
#include "engine/catalogue_fetch.h"
#include "engine/download_scheduler.h"
#include "engine/installer.h"
#include "engine/progress_figures.h"
#include "engine/run_host.h"
#include "engine/run_log.h"
#include "engine/run_services.h"
#include "engine/run_state.h"
#include "platform/run_lock.h"

namespace toval {

// Finished files are installed in batches: one sync of the disk makes a whole batch durable
// before its renames, where a sync per file would cost more than the downloads of small files.
// A batch is what has finished by the next pump tick (at most 100 ms), and ends early at these
// sizes, at the last file, and at a failure.
inline constexpr size_t kInstallBatchFiles = 64;
inline constexpr uint64_t kInstallBatchBytes = 64ull << 20;
// A batch also goes at once when the file after it is large enough to take a while, so that its
// name, not an old one, is the status line meanwhile.
inline constexpr uint64_t kLongFileBytes = 4ull << 20;

// Everything a front end shows of the run, read at once, so that the name, the percentage and
// the position on screen always describe the same file.
struct RunSnapshot {
    RunStage Stage = RunStage::Idle;
    // The status line; in the window, while a file downloads, that file's name.
    std::string StatusText;
    std::string WindowText;
    int32_t FilePercent = 0;
    int32_t TotalPercent = 0;
    int32_t KilobytesPerSecond = 0;
    uint32_t FileCount = 0;
    uint32_t FilePosition = 0;  // of the file shown, from 1; 0 when none is
    int32_t ShownKind = 0;      // 1: a catalogue transfer, 2: a file, 0: nothing runs
    std::string ShownFile;
    uint64_t ReceivedBytes = 0;
    uint64_t TotalBytes = 0;
    uint64_t BytesPerSecond = 0;  // unrounded, for programs
    uint32_t Running = 0;         // transfers running
};

class CUpdateRun {
  public:
    enum class Outcome { Running, Finished, UpToDate, Failed, Stopped };

    explicit CUpdateRun(IRunHost& host);
    CUpdateRun(IRunHost& host, BaseDirectories dirs);
    CUpdateRun(IRunHost& host, BaseDirectories dirs, IRunClock& clock, IProgramStarter& programs);
    // Cancels and joins the transfers still queued.
    ~CUpdateRun();
    CUpdateRun(const CUpdateRun&) = delete;
    CUpdateRun& operator=(const CUpdateRun&) = delete;

    // Set up before StartRun.
    void SetCallerWindow(uint32_t window) { CallerWindow = window; }
    void AddServer(const std::string& name, const std::string& url) { ServerList.Add(name, url); }
    // Transfers that may run at once. Files still install one by one in catalogue order.
    void SetTransferLimit(uint32_t limit) { Scheduler.SetTransferLimit(limit); }
    uint32_t TransferLimit() const { return Scheduler.TransferLimit(); }
    // Makes the transfers; tests may put another in before the run starts.
    void SetTransferFactory(TransferFactory factory) { MakeTransfer = std::move(factory); }
    // Caps the download rate of all the run's transfers together (bytes a second; 0: no cap).
    void SetRateCap(uint64_t bytesPerSecond) {
        Cap = bytesPerSecond ? std::make_shared<RateCap>(bytesPerSecond) : nullptr;
    }
    // Checks every listed file's bytes against its Sha256, not only its length and time, and
    // fetches again those that differ (--verify).
    void SetVerify(bool verify) { VerifyBytes = verify; }
    // Where the run notes its requests, installs and actions; none: nowhere. Set before StartRun.
    void SetLog(RunLog* log) {
        Log = log;
        Logged.SetLog(log);
    }
    // The client's program directory (the state directory lies in it).
    const std::string& ProgramDir() const { return UpdateCatalog.Directories().ProgramDir; }
    // How long a run waits for another updater on the same client directory.
    void SetLockWaitLimit(std::chrono::milliseconds limit) { LockWaitLimit = limit; }

    // Replaces the status line; shown at the next repaint tick. The code is ignored.
    void SetStatus(const std::string& text, uint32_t code = 0);

    // Opens the run. The catalogue always comes from the first server; when the front end has
    // added none, the built-in server with `catalogueUrl` is added first. While another updater
    // works on the same client directory, the run waits for it (at most the lock wait limit)
    // before it connects. Actions an earlier run journaled are performed first.
    void StartRun(const std::string& catalogueUrl);
    // Queues a catalogue transfer from the first server into a fresh temporary file.
    void Connect();
    // Ends the run at once on a termination signal: nothing new starts, the transfers are
    // cancelled, the finished files at the front are installed, temporary catalogues removed,
    // and the caller gets its result when it has had none.
    void Terminate();
    // Ends the run where it stands, as the window's close spot does: the same, but the caller
    // is told nothing.
    void Abandon();

    // The message handlers.
    void OnTimer(uint32_t id);
    uint32_t OnDownloadComplete(uint32_t wParam, ITransfer* transfer);
    uint32_t OnDownloadProgress(uint32_t wParam, ITransfer* transfer);
    void OnCommand(uint32_t id);
    // Routes one posted message to its handler.
    void Dispatch(uint32_t message, uint32_t wParam, ITransfer* lParam);

    // Swaps the downloaded file into place and acts on its install options; false (with the
    // status set) when it cannot be put in place.
    bool InstallFile(const CFileEntry& file);

    // How the run ended (the console's exit status follows it).
    Outcome RunOutcome() const { return Result; }
    RunStage Stage() const { return CurrentStage; }
    RunSnapshot Snapshot() const;
    // The transfer of the file (or catalogue) shown: the first still running; null when none is.
    ITransfer* ShownTransfer() const {
        return Scheduler.Shown() ? Scheduler.Shown()->Transfer.get() : nullptr;
    }
    // Transfers queued and not yet installed (the catalogue's included).
    uint32_t QueuedCount() const { return Scheduler.Queue().Count(); }

  private:
    // Starts queued transfers, in order, while the scheduler allows (the pump's body).
    void StartReady();
    // False when the run could not go on because no worker could be started.
    bool StartTransfer(QueuedTransfer& item);
    // True once the run may go on: the lock is held, or no lock can be had at all.
    bool AcquireRunLock();
    void WaitForRunLock();
    // The lock is ours: journaled actions first, then the catalogue.
    void Begin();
    TransferRequest FileRequest(const CFileEntry& file) const;
    void CatalogueEnded(QueuedTransfer& item);
    void QueueFiles();
    // The last status of a verifying run that brought its client up to date.
    void ShowVerified();
    bool FitsOnDisk();
    void CatalogueFailed(const std::string& serverName, const std::string& errorText);
    // The run ends before any file was fetched: `status` shown, `boxText` in a system notice,
    // the caller told that nothing is to be updated.
    void EndBeforeFiles(const std::string& status, const std::string& boxText);
    // A file's transfer has ended.
    void FileEnded(QueuedTransfer& item);
    // Notes an ended transfer in the log.
    void LogTransfer(const QueuedTransfer& item);
    // What makes the finished front of the queue go now.
    enum class InstallTrigger { Completion, Tick };
    // Installs the finished front of the queue, in order, when `trigger` or its size says so.
    void InstallReady(InstallTrigger trigger);
    // Syncs the first `count` files of the queue and installs them in order, each with the
    // status lines it would have had alone, up to the first failure.
    void InstallFront(size_t count, ActionTiming timing);
    void InstallOne(QueuedTransfer& item, ActionTiming timing);
    // A file could not be brought up to date: the run ends without "finished" and without the
    // lobby, with `status` shown and `boxText` in a message box.
    void FileFailedWith(const std::string& status, const std::string& boxText, uint32_t type);
    // Every early ending: cancels the transfers, installs the files that are complete with every
    // file before them installed, keeps the other complete ones for the next run to check.
    void EndEarly();
    void PostQuit();
    void SendResult(uint32_t count);
    void ShowMessageBox(const std::string& text, const std::string& caption, uint32_t type);
    // Stops and joins every transfer; removes the temporary catalogues and, unless told to keep
    // them, the files fetched but not installed.
    enum class CompleteFiles { Keep, Remove };
    void DropQueue(CompleteFiles complete);

    // Aborts a debug build when called on another thread than the run's own.
    void CheckThread() const;
    // The state directory beside the program.
    std::string StateDir() const { return StateDirectory(UpdateCatalog.Directories().ProgramDir); }

    IRunHost& Host;
    IRunClock& Clock;
    LoggedPrograms Logged;
    IProgramStarter& Programs;  // Logged
    RunLog* Log = nullptr;
    const std::thread::id OwnThread = std::this_thread::get_id();
    RunStage CurrentStage = RunStage::Idle;
    Outcome Result = Outcome::Running;
    int MessageBoxDepth = 0;  // message boxes open on this thread (nested loops)
    // What the caller's window has been told: the count of files to update, once sent.
    std::optional<uint32_t> ToldCaller;
    std::chrono::steady_clock::time_point LockWaitStart{};
    std::chrono::milliseconds LockWaitLimit{std::chrono::minutes(10)};

    std::string StatusText;
    uint32_t CallerWindow = 0;
    uint32_t FileCount = 0;
    uint64_t TotalBytes = 0;
    uint64_t ReceivedBytes = 0;
    ProgressFigures Figures;
    TransferFactory MakeTransfer = DefaultTransferFactory();
    std::shared_ptr<RateCap> Cap;
    bool VerifyBytes = false;
    CUpdateCatalog::Verified Verified;
    std::unique_ptr<RunLock> Lock;
    CServerList ServerList;
    CUpdateCatalog UpdateCatalog;
    CatalogueFetch Fetch;
    std::unique_ptr<Installer> Files;
    // The hash cache, read once a run when first wanted (a check of the files' bytes, signed
    // mode, or a file with a patch on offer, whose installed file it spares reading again).
    HashCache& Hashes() const;
    mutable std::optional<HashCache> KnownHashes;
    DownloadScheduler Scheduler;  // declared last: destroyed first, joining its transfers
};

}  // namespace toval
