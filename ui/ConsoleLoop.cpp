#include "ui/ConsoleLoop.h"

#include <cstdio>
#include <string>

#include "engine/progress_figures.h"
#include "platform/caller_message.h"
#include "platform/debug_output.h"
#include "platform/standard_streams.h"
#include "platform/termination.h"
#include "platform/text.h"

namespace toval {

namespace {
// The caption a message box without one of its own shows.
constexpr const char* kApplicationName = "toval-updater";

// Texts carry names from the catalogue, and a name with a line break or an escape sequence must
// neither forge status lines for whoever reads stdout nor drive the terminal.
std::string Printable(const std::string& text) {
    return toval::Printable(text, ControlStyle::Replacement);
}
}  // namespace

ConsoleLoop::ConsoleLoop() : ProgressOnTerminal(IsTerminal(stderr)) {}

ConsoleLoop::~ConsoleLoop() = default;

void ConsoleLoop::Post(uint32_t message, uint32_t wParam, ITransfer* lParam) {
    {
        std::lock_guard guard(QueueLock);
        Queue.push_back({message, wParam, lParam});
    }
    QueueChanged.notify_one();
}

void ConsoleLoop::ShowMessageBox(const std::string& text, const std::string& caption, uint32_t) {
    // Nobody is there to close a box: it is printed and counts as closed at once.
    ClearProgress();
    std::fprintf(stderr, "%s: %s\n", caption.empty() ? kApplicationName : caption.c_str(),
                 Printable(text).c_str());
    std::fflush(stderr);
}

void ConsoleLoop::SendUpdateResult(uint32_t callerWindow, uint32_t count) {
    // The console has no window of its own to name; without a display nothing is delivered.
    SendUpdateResultMessage(callerWindow, count, 0);
}

void ConsoleLoop::PostQuit() { QuitPosted = true; }

void ConsoleLoop::Invalidate() { DrawProgress(); }

void ConsoleLoop::DebugOutput(const std::string& text) { ::toval::DebugOutput(text); }

void ConsoleLoop::StatusChanged(const std::string& text) {
    ClearProgress();
    const std::string line = Printable(text);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ConsoleLoop::DrawProgress() {
    if (!ProgressOnTerminal || !ActiveRun) return;
    const RunSnapshot s = ActiveRun->Snapshot();
    if (s.ShownKind != 2 || s.FileCount == 0) {
        ClearProgress();
        return;
    }
    std::fprintf(stderr, "\r\033[K%s  %d%%  总 %d%%  %dKB/秒  %u/%u",
                 Printable(s.ShownFile).c_str(), s.FilePercent, s.TotalPercent,
                 s.KilobytesPerSecond, s.FilePosition, s.FileCount);
    std::fflush(stderr);
    ProgressShown = true;
}

void ConsoleLoop::ClearProgress() {
    if (!ProgressShown) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    ProgressShown = false;
}

void ConsoleLoop::Run(CUpdateRun& run) {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(kTimerPeriodMs);
    ActiveRun = &run;
    // The first tick comes at once: nobody is watching a window appear, so the catalogue
    // transfer starts without waiting a period for nothing.
    auto nextTick = Clock::now();
    while (!QuitPosted && run.RunOutcome() != CUpdateRun::Outcome::Stopped) {
        // Every pass through the loop comes within a tick, so a signal acts within 100 ms.
        if ((Signal = TerminationSignal()) != 0) {
            run.Terminate();
            break;
        }
        // Ticks are due every 100 ms however busy the queue is, so the repaint never starves.
        if (Clock::now() >= nextTick) {
            run.OnTimer(WM_TIMER_PUMP);
            if (QuitPosted) break;
            run.OnTimer(WM_TIMER_REPAINT);
            nextTick += period;
            if (nextTick < Clock::now()) nextTick = Clock::now() + period;
            continue;
        }
        Message message{};
        {
            std::unique_lock lock(QueueLock);
            if (!QueueChanged.wait_until(lock, nextTick, [this] { return !Queue.empty(); }))
                continue;
            message = Queue.front();
            Queue.pop_front();
        }
        run.Dispatch(message.Id, message.WParam, message.LParam);
    }
    ClearProgress();
    ActiveRun = nullptr;
    std::lock_guard guard(QueueLock);
    Queue.clear();
}

}  // namespace toval
