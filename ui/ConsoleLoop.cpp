#include "ui/ConsoleLoop.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "engine/progress_figures.h"
#include "platform/standard_streams.h"
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

bool ConsoleLoop::WakeUp() {
    {
        std::lock_guard guard(WakeLock);
        WakePending = true;
    }
    Woken.notify_one();
    return true;
}

void ConsoleLoop::ShowMessageBox(const std::string& text, const std::string& caption, uint32_t) {
    // Nobody is there to close a box: it is printed and counts as closed at once.
    ClearProgress();
    std::fprintf(stderr, "%s: %s\n", caption.empty() ? kApplicationName : caption.c_str(),
                 Printable(text).c_str());
    std::fflush(stderr);
}

void ConsoleLoop::StatusChanged(const std::string& text) {
    ClearProgress();
    const std::string line = Printable(text);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ConsoleLoop::DrawProgress() {
    if (!ProgressOnTerminal || !Active) return;
    const RunSnapshot s = Active->Run().Snapshot();
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

void ConsoleLoop::Run(RunSession& session) {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(kTimerPeriodMs);
    Active = &session;
    session.Start();
    auto nextTick = Clock::now() + period;
    while (!session.LoopOver() && session.Run().RunOutcome() != CUpdateRun::Outcome::Stopped) {
        // Every pass through the loop comes within a tick, so a signal acts within 100 ms.
        session.CheckTermination();
        // Ticks are due every 100 ms however busy the queue is, so the repaint never starves.
        if (Clock::now() >= nextTick) {
            session.Tick(WM_TIMER_PUMP);
            session.Tick(WM_TIMER_REPAINT);
            nextTick += period;
            if (nextTick < Clock::now()) nextTick = Clock::now() + period;
            continue;
        }
        {
            std::unique_lock lock(WakeLock);
            if (!Woken.wait_until(lock, nextTick, [this] { return WakePending; })) continue;
            WakePending = false;
        }
        session.DeliverPosted();
    }
    ClearProgress();
    Active = nullptr;
}

}  // namespace toval
