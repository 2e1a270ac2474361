#pragma once
// The update run: from queuing the catalogue transfer to installing the last file.
//
// The run is single-threaded: every member is called on the one thread that created it (the
// front end's loop), one handler at a time, so nothing here takes a lock. A message box's nested
// loop may call handlers again before the outer one returns; the flags below (QuitPosted,
// FileFailed, MessageBoxDepth) keep that re-entry harmless. Transfers' worker threads never
// touch the run: they post messages (IRunHost) and write only their own atomic counters. Debug
// builds check the thread on every entry.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "catalog/CServerList.h"
#include "catalog/CUpdateCatalog.h"
#include "catalog/minisign.h"
#include "engine/CDownloadQueue.h"
#include "engine/kept_catalogue.h"
#include "engine/progress_figures.h"
#include "engine/run_host.h"
#include "platform/run_lock.h"

namespace toval {

// A catalogue's signature is a few hundred bytes.
inline constexpr uint64_t kSignatureMaxBytes = 16 << 10;
// The keys file beside the program whose presence puts the updater in signed mode.
inline constexpr std::string_view kTrustedKeysFile = "toval-updater.pub";

// Downloaded files are installed in batches: one sync of the disk makes a whole batch durable
// before its renames, where a sync per file would cost more than the downloads of small files.
// A batch ends at these sizes, at the last file, and at a failure.
inline constexpr size_t kInstallBatchFiles = 64;
inline constexpr uint64_t kInstallBatchBytes = 64ull << 20;
// A batch also ends when the file after it is large enough to take a while, so that its name,
// not an old one, is the status line meanwhile.
inline constexpr uint64_t kLongFileBytes = 4ull << 20;
// How far past the first file not yet installed the downloads may start.
inline constexpr uint64_t kStartWindow = 4 * kInstallBatchFiles;

class CUpdateRun {
  public:
    enum class Outcome { Running, Finished, UpToDate, Failed, Stopped };

    explicit CUpdateRun(IRunHost& host);
    CUpdateRun(IRunHost& host, BaseDirectories dirs);
    // Cancels and joins the transfers still queued (see DropQueue).
    ~CUpdateRun();

    // Replaces the status line; shown at the next repaint tick. The code is ignored.
    void SetStatus(const std::string& text, uint32_t code = 0);

    // Opens the run. The catalogue always comes from the first server; when the front end has
    // added none, the built-in server with `catalogueUrl` is added first. While another updater
    // works on the same client directory, the run waits for it (at most LockWaitLimit) before
    // it connects.
    void StartRun(const std::string& catalogueUrl);
    // Queues a catalogue transfer from the first server into a fresh temporary file.
    void Connect();
    // Ends the run at once on a termination signal: nothing new starts, the transfers are
    // cancelled and joined, temporary catalogues removed, and the caller gets its result when
    // it has had none.
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
    void LaunchLobby();

    // How the run ended (the console's exit status follows it).
    Outcome RunOutcome() const { return Result; }
    // The first transfer still running, whose figures the front ends show; null when none runs.
    const QueuedTransfer* ActiveTransfer() const { return Active; }

    // Run state, read by the front ends when they paint.
    std::string StatusText;
    uint32_t CallerWindow = 0;
    uint32_t FileCount = 0;
    uint64_t TotalBytes = 0;
    uint64_t ReceivedBytes = 0;
    ProgressFigures Figures;
    CServerList ServerList;
    CUpdateCatalog UpdateCatalog;
    CDownloadQueue DownloadQueue;  // declared last: destroyed first, joining its transfers
    // Transfers that may run at once. Files still install one by one in catalogue order.
    uint32_t TransferLimit = 5;
    uint32_t RunningTransfers = 0;
    // Makes the transfers; tests may put another in before the run starts.
    TransferFactory MakeTransfer = DefaultTransferFactory();
    // How long a run waits for another updater on the same client directory.
    std::chrono::milliseconds LockWaitLimit{std::chrono::minutes(10)};

  private:
    // Starts queued transfers, in order, while fewer than TransferLimit run (the pump's body).
    void PumpStep();
    // False when the run could not go on because no worker could be started.
    bool StartTransfer(QueuedTransfer& item);
    // True once the run may go on: the lock is held, or no lock can be had at all.
    bool AcquireRunLock();
    void WaitForRunLock();
    TransferRequest FileRequest(const CFileEntry& file) const;
    // A file's transfer has ended: once every file before it has, the finished front of the
    // queue is installed in batches.
    void FileDone(QueuedTransfer& item);
    // Once the finished files at the front of the queue make a batch, syncs them to the disk,
    // then installs them in order up to the first failure, each with the status lines it would
    // have had alone.
    void InstallFinished();
    // The first running transfer becomes the one shown; a file that has become the front of
    // the queue while it runs gets its name as the status line.
    void UpdateActive();
    void PostQuit();
    void SendResult(uint32_t count);
    void ShowMessageBox(const std::string& text, const std::string& caption, uint32_t type);
    void CatalogueCompleted(QueuedTransfer& item);
    // Queues the transfer of the catalogue itself (in signed mode, once its signature is here).
    void QueueCatalogue(const CServerEntry& server);
    // The request of a catalogue-side transfer: `url` into a fresh temporary file, with the
    // mirrors of the catalogue `kept` from the last accepted one to fall back on.
    std::unique_ptr<TransferRequest> CatalogueRequest(
        const std::string& url, const char* suffix, uint64_t maxBytes,
        const std::optional<KeptCatalogue>& kept) const;
    // Signed mode: reads the trusted keys when toval-updater.pub stands beside the program.
    void LoadTrustedKeys();
    void SignatureCompleted(QueuedTransfer& item);
    // Signed mode: the reason the catalogue `bytes` must be refused, or nothing; on acceptance
    // the catalogue is loaded and its serial kept as the key's new floor.
    std::optional<std::string_view> CheckSignedCatalogue(const std::string& bytes);
    void CatalogueFailed(QueuedTransfer& item, const std::string& errorText);
    void FileCompleted(QueuedTransfer& item);
    // A file could not be brought up to date: the run ends without "finished" and without the
    // lobby, with `status` shown and `boxText` in a message box.
    void FileFailedWith(const std::string& status, const std::string& boxText, uint32_t type);
    bool FitsOnDisk();
    // Makes the renames of the files installed so far durable.
    void SyncInstalledDirectories();
    // Stops and joins every transfer; removes the temporary catalogues and the files that were
    // fetched but not installed.
    void DropQueue();

    // Aborts a debug build when called on another thread than the run's own.
    void CheckThread() const;
    // The state directory beside the program.
    std::string StateDir() const { return StateDirectory(UpdateCatalog.Directories().ProgramDir); }

    IRunHost& Host;
    const std::thread::id OwnThread = std::this_thread::get_id();
    std::unique_ptr<RunLock> Lock;
    Outcome Result = Outcome::Running;
    bool QuitPosted = false;
    bool ResultSent = false;
    bool FileFailed = false;  // a file failed: the run must not report "finished"
    bool WaitingForLock = false;
    std::chrono::steady_clock::time_point LockWaitStart{};
    int MessageBoxDepth = 0;                     // message boxes open on this thread (nested loops)
    std::set<std::string> InstalledDirectories;  // where renames wait to be made durable

    bool StartingStopped = false;  // a file failed: nothing after it need be fetched
    bool Installing = false;       // a batch is being installed (message boxes re-enter)
    const QueuedTransfer* Active = nullptr;
    std::string CatalogueUrl;  // of the catalogue whose files are queued

    // Signed mode when set (possibly empty: a keys file that holds no usable key trusts nothing).
    std::optional<std::vector<minisign::PublicKey>> TrustedKeys;
    const QueuedTransfer* SignatureFetch = nullptr;  // the signature transfer while it is queued
    std::string SignatureText;                       // the signature of the catalogue being fetched
};

}  // namespace toval
