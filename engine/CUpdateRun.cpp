#include "engine/CUpdateRun.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/kept_catalogue.h"
#include "engine/status_texts.h"
#include "net/derived_urls.h"
#include "net/update_path.h"
#include "platform/disk_space.h"
#include "platform/file_handle.h"
#include "platform/temp_file.h"
#include "platform/utf8_path.h"

namespace toval {

CUpdateRun::CUpdateRun(IRunHost& host) : Host(host) {}

CUpdateRun::CUpdateRun(IRunHost& host, BaseDirectories dirs)
    : UpdateCatalog(std::move(dirs)), Host(host) {}

CUpdateRun::~CUpdateRun() {
    DropQueue();
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
    QueuedTransfer item;
    item.Kind = 1;
    item.ServerName = server->Name;
    item.Pending = CatalogueRequest(server->Url + ".minisig", ".minisig", kSignatureMaxBytes,
                                    FindAnyKeptCatalogue(StateDir()));
    SignatureFetch = &DownloadQueue.Push(std::move(item));
}

std::unique_ptr<TransferRequest> CUpdateRun::CatalogueRequest(
    const std::string& url, const char* suffix, uint64_t maxBytes,
    const std::optional<KeptCatalogue>& kept) const {
    auto request = std::make_unique<TransferRequest>();
    request->Kind = 1;
    request->URL = url;
    request->TargetPath = CreateTempFile("Xml", suffix);
    request->MaxLength = maxBytes;
    // When the server is down, the mirrors the last accepted catalogue named may serve it.
    if (kept) request->Mirrors = kept->Mirrors;
    return request;
}

void CUpdateRun::QueueCatalogue(const CServerEntry& server) {
    QueuedTransfer item;
    item.Kind = 1;
    item.ServerName = server.Name;
    const std::optional<KeptCatalogue> kept = FindAnyKeptCatalogue(StateDir());
    item.Pending = CatalogueRequest(server.Url, ".tmp", kCatalogueMaxBytes, kept);
    // With a copy kept from an earlier launch, an unchanged catalogue costs one small answer.
    if (kept && kept->Url == server.Url) {
        item.Pending->IfNoneMatch = kept->ETag;
        item.Pending->IfModifiedSince = kept->LastModified;
    }
    DownloadQueue.Push(std::move(item));
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
    if (QuitPosted || FileFailed || StartingStopped) return;
    if (WaitingForLock) {
        WaitForRunLock();
        return;
    }
    while (RunningTransfers < TransferLimit) {
        QueuedTransfer* next = DownloadQueue.NextUnstarted();
        const QueuedTransfer* front = DownloadQueue.Front();
        // Finished files wait on the disk until the ones before them are in; how far ahead the
        // downloads may run is bounded, so their ".update" files never pile up without end.
        if (!next || !front || next->Sequence - front->Sequence >= kStartWindow) return;
        if (!StartTransfer(*next)) return;
    }
}

bool CUpdateRun::StartTransfer(QueuedTransfer& item) {
    // A file's name is its status while it downloads when every file before it is installed;
    // otherwise their lines come first, and this name follows them.
    const bool front = &item == DownloadQueue.Front();
    TransferRequest request;
    if (item.Kind == 2) {
        if (front) {
            SetStatus(FillText("%s", {item.FileName()}));
            item.StatusShown = true;
        }
        request = FileRequest(*item.Entry);
    } else {
        request = std::move(*item.Pending);
        item.Pending.reset();
    }
    DownloadQueue.Attach(item, MakeTransfer(std::move(request), Host));
    if (item.Transfer->Start()) {
        ++RunningTransfers;
        UpdateActive();
        return true;
    }
    // No worker could be started: the run cannot go on. It ends as a failed transfer does, so
    // that the front end closes and the caller hears a result; files before it are installed.
    if (item.Kind == 1) {
        CatalogueFailed(item, ResultCodeText(kResultConnect));
        DownloadQueue.PopFront();
    } else {
        item.Done = true;
        item.Code = kResultConnect;
        FileDone(item);
    }
    Result = Outcome::Stopped;
    return false;
}

TransferRequest CUpdateRun::FileRequest(const CFileEntry& file) const {
    TransferRequest request;
    request.Kind = 2;
    request.URL = file.URL;
    request.Mirrors = UpdateCatalog.Mirrors();
    request.TargetPath = file.FullPath;
    request.ExpectedLength = file.Length;
    request.Sha256 = file.Sha256;
    // Patches are named relative to the catalogue that lists them.
    for (const FilePatch& patch : file.Patches)
        if (std::optional<std::string> url = ResolveUrl(CatalogueUrl, patch.URL))
            request.Patches.push_back({patch.FromSha256, std::move(*url), patch.Length});
    request.SyncOnClose = false;  // the batch is synced at once before it is installed
    // Under the run lock no other updater writes here: a partial download that a run before
    // left is this updater's to continue or replace.
    request.Resume = Lock && Lock->IsHeld();
    // A file new to this version may live in a directory the client does not have yet. Its path
    // has been checked to stay inside its base directory; if the directory cannot be made, the
    // transfer reports that it could not create its file.
    std::error_code ignored;
    const std::string dir = ParentDirectory(file.FullPath);
    std::filesystem::create_directories(PathOfUtf8(dir), ignored);
    // The new file takes over the permissions of the copy it replaces, so an updated program
    // stays executable; a file the catalogue asks to run gets execute permission wherever it
    // may be read. The transfer sets them on its own descriptor before the file is renamed.
    // Windows files have no such bits.
    uint32_t mode = 0;
#ifndef _WIN32
    struct stat st {};
    if (::stat(file.FullPath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 0777;
#endif
    if (file.Execute) {
        if (mode == 0) mode = 0644;
        mode |= (mode & 0444) >> 2;
    }
    request.FileMode = mode;
    // A catalogue that gives no length cannot have the body checked against it; such a body
    // still may not take the disk: past half of what is free it is stopped.
    if (file.Length == 0) request.MaxLength = std::max<uint64_t>(1, FreeBytes(dir) / 2);
    return request;
}

uint32_t CUpdateRun::OnDownloadProgress(uint32_t wParam, ITransfer* transfer) {
    CheckThread();
    const QueuedTransfer* item = DownloadQueue.Find(transfer);
    if (!item) return 0;
    // The downloader coalesces notifications: take every byte written since the last one. The
    // total counts every running transfer; the file figure is the shown transfer's.
    const uint64_t chunk = transfer->TakeProgress();
    const uint64_t expected = item == Active ? transfer->Request().ExpectedLength : 0;
    Figures.OnProgress(static_cast<int32_t>(HighWord(wParam)), chunk, transfer->Received(),
                       expected, ReceivedBytes, TotalBytes, ProcessClockMs());
    Host.ProgressHandled();
    return 0;
}

void CUpdateRun::Dispatch(uint32_t message, uint32_t wParam, ITransfer* lParam) {
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
    DropQueue();
    SyncInstalledDirectories();
    RunningTransfers = 0;
    Active = nullptr;
}

void CUpdateRun::DropQueue() {
    std::vector<std::string> doomed;
    DownloadQueue.CancelAll();
    DownloadQueue.ForEach([&](const QueuedTransfer& item) {
        if (item.Kind == 1) {
            if (!item.TargetPath().empty()) doomed.push_back(item.TargetPath());
            return;
        }
        // A file still queued when the run ends is not installed. One its transfer completed
        // goes, since a later run fetches it again anyway; a partial one stays for a later run
        // to continue.
        if (!item.Started()) return;
        item.Transfer->Join();
        if (item.Transfer->Result().Code == kResultOk)
            doomed.push_back(UpdateFilePath(item.TargetPath()));
    });
    DownloadQueue.Clear();  // joins the rest, so nothing writes to these any more
    for (const std::string& path : doomed) RemoveFile(path);
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
