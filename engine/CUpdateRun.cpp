#include "engine/CUpdateRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/kept_catalogue.h"
#include "engine/status_texts.h"
#include "net/update_path.h"
#include "platform/disk_space.h"
#include "platform/temp_file.h"

namespace toval {

CUpdateRun::CUpdateRun(IRunHost& host) : Host(host) {}

CUpdateRun::CUpdateRun(IRunHost& host, BaseDirectories dirs)
    : UpdateCatalog(std::move(dirs)), Host(host) {}

CUpdateRun::~CUpdateRun() {
    RemoveTemporaryCatalogues();
    SyncInstalledDirectories();
}

void CUpdateRun::CheckThread() const {
#ifndef NDEBUG
    if (std::this_thread::get_id() != OwnThread) {
        std::fputs("toval-updater: the update run was called from a second thread\n", stderr);
        std::abort();
    }
#endif
}

void CUpdateRun::SetStatus(const std::string& text, uint32_t) {
    StatusText = text;
    Host.StatusChanged(StatusText);
}

void CUpdateRun::StartRun(const std::string& catalogueUrl) {
    CheckThread();
    if (!ServerList.First()) ServerList.Add(std::string(kServerName), catalogueUrl);
    UpdateCatalog.Clear();
    ReceivedBytes = 0;
    LoadTrustedKeys();
    if (AcquireRunLock()) Connect();
}

bool CUpdateRun::AcquireRunLock() {
    if (!Lock) Lock = std::make_unique<RunLock>(StateDir());
    switch (Lock->TryAcquire()) {
        case RunLock::State::Held:
            WaitingForLock = false;
            return true;
        case RunLock::State::Unavailable:
            // Without a state directory the run still goes on: the files themselves are
            // created exclusively, so a second writer fails rather than corrupting them.
            Host.DebugOutput("run lock unavailable");
            WaitingForLock = false;
            return true;
        case RunLock::State::Busy:
            break;
    }
    if (!WaitingForLock) {
        WaitingForLock = true;
        LockWaitStart = std::chrono::steady_clock::now();
        SetStatus(std::string(kTextWaitingForOtherRun));
    }
    return false;
}

void CUpdateRun::WaitForRunLock() {
    if (AcquireRunLock()) {
        Connect();
        return;
    }
    if (std::chrono::steady_clock::now() - LockWaitStart < LockWaitLimit) return;
    WaitingForLock = false;
    const std::string text(kTextOtherRunStillRunning);
    SetStatus(text);
    Result = Outcome::Failed;
    ShowMessageBox(text, std::string(kCaptionSystemNotice), MB_ICONERROR | MB_OK);
    SendResult(0);
    PostQuit();
}

void CUpdateRun::Connect() {
    CheckThread();
    CServerEntry* server = ServerList.First();
    if (!server) return;
    // Temporary files are created before any network access. When none can be, the path stays
    // empty and the transfer completes with the local-file code, which ends the run as a
    // catalogue failure.
    UpdateCatalog.Clear();
    SetStatus(FillText(kTextConnecting, {server->Name}));
    ReceivedBytes = 0;
    if (!TrustedKeys) {
        QueueCatalogue(*server);
        return;
    }
    // The signature comes first, small and capped: the catalogue is then checked against it
    // before anything reads it.
    auto transfer = std::make_unique<CInetFile>();
    transfer->Kind = 1;
    transfer->StatusCallback = true;
    transfer->NotifyWindow = &Host;
    transfer->URL = server->Url + ".minisig";
    transfer->ServerName = server->Name;
    transfer->TargetPath = CreateTempFile("Xml", ".minisig");
    transfer->MaxLength = kSignatureMaxBytes;
    SignatureFetch = transfer.get();
    DownloadQueue.Push(std::move(transfer));
}

void CUpdateRun::QueueCatalogue(const CServerEntry& server) {
    auto transfer = std::make_unique<CInetFile>();
    transfer->Kind = 1;
    transfer->StatusCallback = true;
    transfer->NotifyWindow = &Host;
    transfer->URL = server.Url;
    transfer->ServerName = server.Name;
    transfer->TargetPath = CreateTempFile("Xml", ".tmp");
    transfer->ExpectedLength = 0;
    transfer->MaxLength = kCatalogueMaxBytes;
    // With a copy kept from an earlier launch, an unchanged catalogue costs one small answer.
    const std::string stateDir = StateDir();
    if (const std::optional<KeptCatalogue> kept = FindKeptCatalogue(stateDir, server.Url)) {
        transfer->IfNoneMatch = kept->ETag;
        transfer->IfModifiedSince = kept->LastModified;
    }
    DownloadQueue.Push(std::move(transfer));
}

void CUpdateRun::OnCommand(uint32_t id) {
    CheckThread();
    // Another catalogue while this one's files are queued would end the run half way with a
    // second result; only an idle run takes the command.
    if (id == kCommandConnect && DownloadQueue.Count() == 0 && !WaitingForLock && !QuitPosted)
        Connect();
    // kCommandNothing and every other id: accepted, nothing happens.
}

void CUpdateRun::OnTimer(uint32_t id) {
    CheckThread();
    if (id != WM_TIMER_PUMP && id != WM_TIMER_REPAINT) return;
    if (id == WM_TIMER_REPAINT) {
        Host.DebugOutput("asdfasdf");
        Host.Invalidate();
    }
    PumpStep();
}

void CUpdateRun::PumpStep() {
    CheckThread();
    // Once the run has asked to quit, or a file has failed, nothing new may start.
    if (QuitPosted || FileFailed) return;
    if (WaitingForLock) {
        WaitForRunLock();
        return;
    }
    if (RunningTransfers >= TransferLimit) return;
    CInetFile* next = NextToStart();
    if (!next || next->StartCount != 0) return;
    // A file's name is its status while it downloads, unless earlier files still wait to be
    // installed: their lines come first, and this name follows them.
    const bool showStatus = Held.empty();
    if (next->Kind == 2) PrepareFileTransfer(*next, showStatus);
    if (next->Start()) {
        ++RunningTransfers;
        Active = next;
        ShownAtStart = showStatus ? next : nullptr;
        return;
    }
    // No worker could be started: the run cannot go on. It ends as a failed transfer does, so
    // that the front end closes and the caller hears a result; files before it are installed.
    if (next->Kind == 1) {
        CatalogueFailed(*next, ResultCodeText(kResultConnect));
    } else {
        Held.push_back({next, static_cast<uint32_t>(kResultConnect), showStatus});
        InstallHeld();
    }
    Result = Outcome::Stopped;
}

CInetFile* CUpdateRun::NextToStart() const {
    return Held.empty() ? DownloadQueue.Front() : DownloadQueue.After(Held.back().Transfer);
}

void CUpdateRun::PrepareFileTransfer(CInetFile& transfer, bool showStatus) {
    if (showStatus) SetStatus(FillText("%s", {transfer.FileName}));
    transfer.SyncOnClose = false;  // the batch is synced at once before it is installed
    // A file new to this version may live in a directory the client does not have yet. Its path
    // has been checked to stay inside its base directory; if the directory cannot be made, the
    // transfer reports that it could not create its file.
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(transfer.TargetPath).parent_path(),
                                        ignored);
    // The download is created exclusively, so a leftover of a run that died would block it.
    // Under the run lock no other updater writes here: whatever stands there is stale.
    if (Lock && Lock->IsHeld()) ::unlink(UpdateFilePath(transfer.TargetPath).c_str());
    // The new file takes over the permissions of the copy it replaces, so an updated program
    // stays executable; a file the catalogue asks to run gets execute permission wherever it
    // may be read. The transfer sets them on its own descriptor before the file is renamed.
    struct stat st {};
    uint32_t mode = 0;
    if (::stat(transfer.TargetPath.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 0777;
    if (transfer.Execute) {
        if (mode == 0) mode = 0644;
        mode |= (mode & 0444) >> 2;
    }
    transfer.FileMode = mode;
    // A catalogue that gives no length cannot have the body checked against it; such a body
    // still may not take the disk: past half of what is free it is stopped.
    if (transfer.ExpectedLength == 0) {
        const std::string dir = std::filesystem::path(transfer.TargetPath).parent_path().string();
        transfer.MaxLength = std::max<uint64_t>(1, FreeBytes(dir) / 2);
    }
}

uint32_t CUpdateRun::OnDownloadProgress(uint32_t wParam, CInetFile* transfer) {
    CheckThread();
    if (!transfer) return 0;
    // The downloader coalesces notifications: take every byte written since the last one.
    const uint64_t chunk = transfer->TakeProgress();
    Figures.OnProgress(static_cast<int32_t>(HighWord(wParam)), chunk, transfer->Received.load(),
                       transfer->ExpectedLength, ReceivedBytes, TotalBytes, ProcessClockMs());
    Host.ProgressHandled();
    return 0;
}

void CUpdateRun::Dispatch(uint32_t message, uint32_t wParam, CInetFile* lParam) {
    switch (message) {
        case WM_DOWNLOAD_PROGRESS:
            OnDownloadProgress(wParam, lParam);
            break;
        case WM_DOWNLOAD_COMPLETE:
            OnDownloadComplete(wParam, lParam);
            break;
        case WM_TIMER:
            OnTimer(wParam);
            break;
        case WM_COMMAND:
            OnCommand(LowWord(wParam));
            break;
        default:
            break;
    }
}

void CUpdateRun::Terminate() {
    CheckThread();
    if (!ResultSent) SendResult(0);
    Abandon();
}

void CUpdateRun::Abandon() {
    CheckThread();
    QuitPosted = true;
    WaitingForLock = false;
    if (Result == Outcome::Running) Result = Outcome::Stopped;
    RemoveTemporaryCatalogues();
    SyncInstalledDirectories();
    RunningTransfers = 0;
    Active = nullptr;
}

void CUpdateRun::RemoveTemporaryCatalogues() {
    std::vector<std::string> catalogues;
    DownloadQueue.ForEach([&](const CInetFile& transfer) {
        if (transfer.Kind == 1 && !transfer.TargetPath.empty())
            catalogues.push_back(transfer.TargetPath);
    });
    DownloadQueue.Clear();  // cancels and joins, so nothing writes to them any more
    for (const std::string& path : catalogues) std::remove(path.c_str());
}

void CUpdateRun::SyncInstalledDirectories() {
    for (const std::string& dir : InstalledDirectories) SyncDirectory(dir);
    InstalledDirectories.clear();
}

void CUpdateRun::PostQuit() {
    QuitPosted = true;
    SyncInstalledDirectories();
    Host.PostQuit();
}

void CUpdateRun::SendResult(uint32_t count) {
    ResultSent = true;
    if (CallerWindow != 0) Host.SendUpdateResult(CallerWindow, count);
}

void CUpdateRun::ShowMessageBox(const std::string& text, const std::string& caption,
                                uint32_t type) {
    ++MessageBoxDepth;
    Host.ShowMessageBox(text, caption, type);
    --MessageBoxDepth;
}

}  // namespace toval
