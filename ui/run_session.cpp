#include "ui/run_session.h"

#include <cstdio>
#include <cstdlib>

#include "platform/caller_message.h"
#include "platform/debug_output.h"
#include "platform/run_lock.h"
#include "platform/termination.h"

namespace toval {

namespace {
// A tick that has not come for this long is starved by a stream of posted messages, which some
// systems (Windows always) hand out before timers and paints; it is then run in between.
constexpr auto kStarvedAfter = std::chrono::milliseconds(3 * kTimerPeriodMs);
}  // namespace

RunSession::RunSession(ISessionFrontEnd& frontEnd, const StartOptions& options)
    : FrontEnd(frontEnd),
      Options(options),
      Progress(options.Progress),
      UpdateRun(options.Directories ? std::make_unique<CUpdateRun>(*this, *options.Directories)
                                    : std::make_unique<CUpdateRun>(*this)) {
    UpdateRun->SetCallerWindow(options.CallerWindow);
    UpdateRun->SetRateCap(options.MaxRate);
    UpdateRun->SetVerify(options.Verify);
    Log = RunLog::Open(StateDirectory(UpdateRun->ProgramDir()));
    if (Log) {
        Log->Line("toval-updater " +
                  (options.ProgramVersion.empty() ? "(no version)" : options.ProgramVersion) +
                  (options.MaxRate
                       ? ", rate capped at " + std::to_string(options.MaxRate) + " bytes a second"
                       : "") +
                  (options.Progress ? ", progress stream on" : "") +
                  (options.Verify ? ", verifying" : ""));
        UpdateRun->SetLog(Log.get());
    }
    LastPump = LastRepaint = std::chrono::steady_clock::now();
}

RunSession::~RunSession() {
    // The window was ended by the player, or never ran: the launcher still hears the outcome.
    EndProgress(ExitStatus());
    UpdateRun.reset();
    Queue.Clear();
}

void RunSession::Start() {
    LastPump = LastRepaint = std::chrono::steady_clock::now();
    UpdateRun->StartRun(Options.UpdateUrl);
    PumpDueNow = true;
    if (!FrontEnd.WakeUp()) Tick(WM_TIMER_PUMP);
}

void RunSession::DeliverPosted() {
    size_t budget = Queue.TakeWakeUp();
    if (PumpDueNow) {
        PumpDueNow = false;
        Tick(WM_TIMER_PUMP);
    }
    while (budget-- > 0 && !LoopOver()) {
        const std::optional<PostedMessage> message = Queue.Pop();
        if (!message) break;
        // A message box this handler shows delivers later messages from its own loop.
        UpdateRun->Dispatch(message->Id, message->WParam, message->LParam);
    }
    if (LoopOver()) return;
    WakeUpIfWaiting();
    CatchUpTicks();
}

void RunSession::Tick(uint32_t id) {
    CheckTermination();
    if (LoopOver()) return;
    (id == WM_TIMER_PUMP ? LastPump : LastRepaint) = std::chrono::steady_clock::now();
    UpdateRun->OnTimer(id);
    if (id == WM_TIMER_REPAINT) Progress.Tick(UpdateRun->Snapshot());
    // A wake-up that could not be sent is sent again from here.
    WakeUpIfWaiting();
}

void RunSession::CatchUpTicks() {
    const auto now = std::chrono::steady_clock::now();
    if (now - LastPump >= kStarvedAfter) Tick(WM_TIMER_PUMP);
    if (now - LastRepaint >= kStarvedAfter) Tick(WM_TIMER_REPAINT);
}

void RunSession::WakeUpIfWaiting() {
    if (Queue.NeedsWakeUp() && !FrontEnd.WakeUp()) Queue.WakeUpLost();
}

void RunSession::CheckTermination() {
    const int signal = TerminationSignal();
    if (signal == 0) return;
    // The process ends from here rather than by unwinding loops, since the ticks come in a
    // message box's nested loop too: the run settles everything it owns first.
    ExitAfter([this] { UpdateRun->Terminate(); }, 128 + signal);
}

void RunSession::ExitAtOnce() {
    ExitAfter([this] { UpdateRun->Abandon(); }, std::nullopt);
}

template <typename Settle>
void RunSession::ExitAfter(Settle settle, std::optional<int> status) {
    FrontEnd.LeaveScreen();
    settle();
    // Read after the run has settled: a run that had already ended well stays a success.
    if (!status) status = ExitStatus();
    EndProgress(*status);
    FrontEnd.AwaitLeftScreen();
    std::fflush(nullptr);
    std::_Exit(*status);
}

void RunSession::EndProgress(int exitStatus) {
    if (Finished) return;
    Finished = true;
    const RunSnapshot run = UpdateRun->Snapshot();
    Progress.End(run, UpdateRun->RunOutcome(), exitStatus, LastMessage);
    if (Log) {
        Log->Line("ended: " + std::string(OutcomeName(UpdateRun->RunOutcome(), exitStatus)) +
                  ", exit status " + std::to_string(exitStatus) + "; status line: " +
                  run.StatusText + (LastMessage.empty() ? "" : "; message: " + LastMessage));
    }
}

void RunSession::EndWindow() {
    WindowEnded = true;
    Queue.Clear();
}

PointerStep RunSession::PointerPressed(layout::Point client, layout::Point screen) {
    return Pointer.Press(client, screen);
}

PointerStep RunSession::PointerMoved(layout::Point client, layout::Point screen, bool buttonHeld) {
    return Pointer.Move(client, screen, buttonHeld);
}

void RunSession::PointerReleased(layout::Point client) {
    if (Pointer.Release(client).Action == PointerAction::Close) ExitAtOnce();
}

bool RunSession::KeyEndsWindow(KeyName key, bool modified) {
    return !modified && (key == KeyName::Enter || key == KeyName::Escape);
}

int RunSession::ExitStatus() const {
    switch (UpdateRun->RunOutcome()) {
        case CUpdateRun::Outcome::Finished:
        case CUpdateRun::Outcome::UpToDate:
            return 0;
        default:
            return 1;
    }
}

void RunSession::Post(uint32_t message, uint32_t wParam, ITransfer* lParam) {
    if (Queue.Push({message, wParam, lParam}) && !FrontEnd.WakeUp()) Queue.WakeUpLost();
}

void RunSession::ShowMessageBox(const std::string& text, const std::string& caption,
                                uint32_t type) {
    LastMessage = text;
    FrontEnd.ShowMessageBox(text, caption, type);
}

void RunSession::SendUpdateResult(uint32_t callerWindow, uint32_t count) {
    SendUpdateResultMessage(callerWindow, count, FrontEnd.OwnWindowId());
}

void RunSession::PostQuit() {
    QuitAsked = true;
    EndProgress(ExitStatus());
    FrontEnd.EndLoop();
}

void RunSession::Invalidate() { FrontEnd.Invalidate(); }

void RunSession::ProgressHandled() { FrontEnd.ProgressHandled(); }

void RunSession::DebugOutput(const std::string& text) { ::toval::DebugOutput(text); }

void RunSession::StatusChanged(const std::string& text) { FrontEnd.StatusChanged(text); }

}  // namespace toval
