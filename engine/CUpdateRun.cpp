#include "engine/CUpdateRun.h"

#include <filesystem>
#include <memory>

#include "engine/status_texts.h"
#include "platform/temp_file.h"

namespace toval {

CUpdateRun::CUpdateRun(IRunHost& host) : Host(host) {}

CUpdateRun::CUpdateRun(IRunHost& host, BaseDirectories dirs)
    : UpdateCatalog(std::move(dirs)), Host(host) {}

// The queue goes first (it is declared last), cancelling and joining the transfers still queued
// while the state they were queued against is intact.
CUpdateRun::~CUpdateRun() = default;

void CUpdateRun::SetStatus(const std::string& text, uint32_t) {
    StatusText = text;
    Host.StatusChanged(StatusText);
}

void CUpdateRun::StartRun(const std::string& catalogueUrl) {
    if (!ServerList.First()) ServerList.Add(std::string(kServerName), catalogueUrl);
    UpdateCatalog.Clear();
    ReceivedBytes = 0;
    Connect();
}

void CUpdateRun::Connect() {
    std::lock_guard guard(WindowLock);
    CServerEntry* server = ServerList.First();
    if (!server) return;
    // Created before any network access. When no file can be created the path stays empty and
    // the transfer completes with the local-file code, which ends the run as a catalogue failure.
    const std::string catalogueFile = CreateTempFile("Xml", ".tmp");
    UpdateCatalog.Clear();
    SetStatus(FillText(kTextConnecting, {server->Name}));
    ReceivedBytes = 0;

    auto transfer = std::make_unique<CInetFile>();
    transfer->Kind = 1;
    transfer->StatusCallback = true;
    transfer->NotifyWindow = &Host;
    transfer->URL = server->Url;
    transfer->ServerName = server->Name;
    transfer->TargetPath = catalogueFile;
    transfer->ExpectedLength = 0;
    DownloadQueue.Push(transfer.release());
}

void CUpdateRun::OnCommand(uint32_t id) {
    if (id == kCommandConnect) Connect();
    // kCommandNothing and every other id: accepted, nothing happens.
}

void CUpdateRun::OnTimer(uint32_t id) {
    if (id != WM_TIMER_PUMP && id != WM_TIMER_REPAINT) return;
    if (id == WM_TIMER_REPAINT) {
        Host.DebugOutput("asdfasdf");
        Host.Invalidate();
    }
    PumpStep();
}

void CUpdateRun::PumpStep() {
    std::lock_guard guard(WindowLock);
    // Once the run has asked to quit nothing new may start: the loop is about to end.
    if (QuitPosted || RunningTransfers >= TransferLimit) return;
    CInetFile* front = DownloadQueue.Front();
    if (!front || front->StartCount != 0) return;
    if (front->Kind == 2) {
        SetStatus(FillText("%s", {front->FileName}));
        // A file new to this version may live in a directory the client does not have yet.
        // Its path has been checked to stay inside its base directory; if the directory cannot
        // be made, the transfer reports that it could not create its file.
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(front->TargetPath).parent_path(),
                                            ignored);
    }
    if (front->Start()) {
        ++RunningTransfers;
    } else {
        // The transfer stays at the front, started once, and is never tried again: the run
        // cannot go on. The front end decides whether to wait for the user or to end.
        Result = Outcome::Stopped;
    }
}

uint32_t CUpdateRun::OnDownloadProgress(uint32_t wParam, CInetFile* transfer) {
    std::lock_guard guard(WindowLock);
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

void CUpdateRun::PostQuit() {
    QuitPosted = true;
    Host.PostQuit();
}

void CUpdateRun::SendResult(uint32_t count) {
    if (CallerWindow != 0) Host.SendUpdateResult(CallerWindow, count);
}

void CUpdateRun::ShowMessageBox(const std::string& text, const std::string& caption,
                                uint32_t type) {
    ++MessageBoxDepth;
    Host.ShowMessageBox(text, caption, type);
    --MessageBoxDepth;
}

}  // namespace toval
