#include "engine/CUpdateRun.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "engine/status_texts.h"
#include "net/update_path.h"
#include "platform/file_handle.h"

namespace toval {

namespace {
std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

CUpdateRun::CUpdateRun(IRunHost& host)
    : CUpdateRun(host, BaseDirectories::FromSystem(), SystemClock(), SystemPrograms()) {}

CUpdateRun::CUpdateRun(IRunHost& host, BaseDirectories dirs)
    : CUpdateRun(host, std::move(dirs), SystemClock(), SystemPrograms()) {}

CUpdateRun::CUpdateRun(IRunHost& host, BaseDirectories dirs, IRunClock& clock,
                       IProgramStarter& programs)
    : Host(host),
      Clock(clock),
      Logged(programs),
      Programs(Logged),
      UpdateCatalog(std::move(dirs)),
      Fetch(
          UpdateCatalog, [this](const std::string& text) { SetStatus(text); },
          [this](const std::string& text) { Host.DebugOutput(text); }),
      Files(std::make_unique<Installer>(Logged, StateDir())) {}

CUpdateRun::~CUpdateRun() { DropQueue(CompleteFiles::Remove); }

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
    Fetch.LoadTrustedKeys(UpdateCatalog.Directories().ProgramDir);
    if (Log) {
        Log->Line("catalogue " + WithoutCredentials(ServerList.First()->Url) +
                  (Fetch.SignedMode() ? ", signed: a trusted key is present" : ", unsigned"));
    }
    if (AcquireRunLock()) Begin();
}

void CUpdateRun::Begin() {
    // Checked under the run lock, before anything of the client is touched: a client that lost
    // its keys file must not fall back to obeying whatever answers in the server's place.
    if (Fetch.KeysLost(StateDir())) {
        const std::string text(kTextTrustedKeysLost);
        EndBeforeFiles(text, text);
        return;
    }
    // Actions an earlier run journaled but never started come before anything of this run: the
    // files they act on are in place, and this run would find them current.
    const bool intact = Files->ReplayLeftovers([this](const std::string& path) {
        SetStatus(FillText(kTextReplayingAction, {FileNameOf(path)}));
    });
    if (!intact) Host.DebugOutput("damaged action journal discarded");
    Connect();
}

bool CUpdateRun::AcquireRunLock() {
    if (!Lock) Lock = std::make_unique<RunLock>(StateDir());
    switch (Lock->TryAcquire()) {
        case RunLock::State::Held:
            return true;
        case RunLock::State::Unavailable:
            // Without a state directory the run still goes on: the files themselves are
            // created exclusively, so a second writer fails rather than corrupting them.
            Host.DebugOutput("run lock unavailable");
            return true;
        case RunLock::State::Busy:
            break;
    }
    if (CurrentStage != RunStage::WaitingForLock) {
        CurrentStage = RunStage::WaitingForLock;
        LockWaitStart = Clock.Now();
        SetStatus(std::string(kTextWaitingForOtherRun));
    }
    return false;
}

void CUpdateRun::WaitForRunLock() {
    if (AcquireRunLock()) {
        CurrentStage = RunStage::Idle;
        Begin();
        return;
    }
    if (Clock.Now() - LockWaitStart < LockWaitLimit) return;
    const std::string text(kTextOtherRunStillRunning);
    EndBeforeFiles(text, text);
}

void CUpdateRun::Connect() {
    CheckThread();
    CServerEntry* server = ServerList.First();
    if (!server || CurrentStage == RunStage::Ended) return;
    CurrentStage = RunStage::FetchingCatalogue;
    SetStatus(FillText(kTextConnecting, {server->Name}));
    ReceivedBytes = 0;
    Scheduler.Push(Fetch.Begin(*server, StateDir()));
}

void CUpdateRun::OnCommand(uint32_t id) {
    CheckThread();
    // Another catalogue while this one's files are queued would end the run half way with a
    // second result; only an idle run takes the command.
    const bool idle = CurrentStage == RunStage::Idle ||
                      (CurrentStage == RunStage::FetchingCatalogue && QueuedCount() == 0);
    if (id == kCommandConnect && idle) Connect();
    // kCommandNothing and every other id: accepted, nothing happens.
}

void CUpdateRun::OnTimer(uint32_t id) {
    CheckThread();
    if (id != WM_TIMER_PUMP && id != WM_TIMER_REPAINT) return;
    if (id == WM_TIMER_REPAINT) {
        Host.DebugOutput("asdfasdf");
        Host.Invalidate();
    }
    if (CurrentStage == RunStage::WaitingForLock) {
        WaitForRunLock();
        return;
    }
    // What finished since the last tick goes in now, however little it is.
    if (id == WM_TIMER_PUMP) InstallReady(InstallTrigger::Tick);
    StartReady();
}

void CUpdateRun::StartReady() {
    CheckThread();
    // Once the run is ending, or a file has failed, nothing new may start.
    if (CurrentStage != RunStage::FetchingCatalogue && CurrentStage != RunStage::Downloading)
        return;
    while (QueuedTransfer* next = Scheduler.NextToStart())
        if (!StartTransfer(*next)) return;
}

bool CUpdateRun::StartTransfer(QueuedTransfer& item) {
    // A file's name is its status while it downloads when every file before it is installed;
    // otherwise their lines come first, and this name follows them.
    const bool front = &item == Scheduler.Queue().Front();
    TransferRequest request;
    if (item.Role == TransferRole::File) {
        if (front) {
            SetStatus(FillText("%s", {item.FileName()}));
            item.StatusShown = true;
        }
        request = FileRequest(*item.Entry);
    } else {
        request = std::move(*item.Pending);
        item.Pending.reset();
    }
    request.Cap = Cap;
    item.StartedAt = Clock.Now();
    if (Scheduler.Start(item, MakeTransfer(std::move(request), Host))) return true;
    // No worker could be started: the run cannot go on. It ends as a failed transfer does, so
    // that the front end closes and the caller hears a result; files before it are installed.
    item.Code = kResultConnect;
    item.State = FileState::Failed;
    if (item.Role != TransferRole::File) {
        const std::string server = item.ServerName;
        if (!item.TargetPath().empty()) RemoveFile(item.TargetPath());
        Scheduler.Queue().PopFront();
        CatalogueFailed(server, ResultCodeText(kResultConnect));
    } else {
        FileEnded(item);
    }
    Result = Outcome::Stopped;
    return false;
}

uint32_t CUpdateRun::OnDownloadProgress(uint32_t wParam, ITransfer* transfer) {
    CheckThread();
    const QueuedTransfer* item = Scheduler.Queue().Find(transfer);
    if (!item) return 0;
    // The downloader coalesces notifications: take every byte written since the last one. The
    // total counts every running transfer; the file figure is the shown transfer's.
    const uint64_t chunk = transfer->TakeProgress();
    const uint64_t expected = item == Scheduler.Shown() ? item->ExpectedLength() : 0;
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
        case kTimerMessage:
            OnTimer(wParam);
            break;
        case kCommandMessage:
            OnCommand(LowWord(wParam));
            break;
        default:
            break;
    }
}

RunSnapshot CUpdateRun::Snapshot() const {
    RunSnapshot s;
    s.Stage = CurrentStage;
    s.StatusText = StatusText;
    s.WindowText = StatusText;
    s.FilePercent = Figures.FilePercent;
    s.TotalPercent = Figures.TotalPercent;
    s.KilobytesPerSecond = Figures.KilobytesPerSecond();
    s.BytesPerSecond = Figures.BytesPerSecond;
    s.FileCount = FileCount;
    s.ReceivedBytes = ReceivedBytes;
    s.TotalBytes = TotalBytes;
    s.Running = Scheduler.Running();
    const QueuedTransfer* shown = Scheduler.Shown();
    if (!shown || CurrentStage == RunStage::Ended) return s;
    s.ShownKind = shown->Kind;
    s.ShownFile = shown->FileName();
    if (shown->Role != TransferRole::File) return s;
    // The name, the percentage and the position are all the shown file's, read together.
    s.WindowText = shown->FileName();
    s.FilePosition = Scheduler.ShownPosition();
    const uint64_t expected = shown->ExpectedLength();
    s.FilePercent =
        expected == 0
            ? 0
            : static_cast<int32_t>(std::min<uint64_t>(shown->Transfer->Received(), expected) * 100 /
                                   expected);
    return s;
}

void CUpdateRun::Terminate() {
    CheckThread();
    if (!ToldCaller) SendResult(0);
    Abandon();
}

void CUpdateRun::Abandon() {
    CheckThread();
    if (Result == Outcome::Running) Result = Outcome::Stopped;
    EndEarly();
}

void CUpdateRun::PostQuit() {
    CurrentStage = RunStage::Ended;
    Files->SyncDirectories();
    Host.PostQuit();
}

void CUpdateRun::SendResult(uint32_t count) {
    ToldCaller = count;
    if (CallerWindow != 0) Host.SendUpdateResult(CallerWindow, count);
}

void CUpdateRun::ShowMessageBox(const std::string& text, const std::string& caption,
                                uint32_t type) {
    ++MessageBoxDepth;
    Host.ShowMessageBox(text, caption, type);
    --MessageBoxDepth;
}

void CUpdateRun::DropQueue(CompleteFiles complete) {
    std::vector<std::string> doomed;
    CDownloadQueue& queue = Scheduler.Queue();
    queue.CancelAll();
    // Temporary catalogues go. A partial ".update" stays for a later run to continue; a complete
    // one stays after an early ending, for the next run to check rather than fetch again, and
    // goes after a failure, which a later run starts afresh.
    queue.ForEach([&](const QueuedTransfer& item) {
        if (item.Role != TransferRole::File) {
            if (!item.TargetPath().empty()) doomed.push_back(item.TargetPath());
            return;
        }
        if (complete == CompleteFiles::Keep || !item.Started()) return;
        item.Transfer->Join();
        if (item.Transfer->Result().Code == kResultOk) {
            doomed.push_back(UpdateFilePath(item.TargetPath()));
            doomed.push_back(ResumeInfoPath(item.TargetPath()));
        }
    });
    Scheduler.Clear();  // joins the rest, so nothing writes to these any more
    for (const std::string& path : doomed) RemoveFile(path);
}

}  // namespace toval
