#pragma once
// The progress window on Windows: a native window painted with GDI, its tray icon, and the host
// of the update run, whose handlers all run on this window's thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "engine/CUpdateRun.h"
#include "engine/run_host.h"
#include "ui/front_end.h"
#include "ui/pointer_rules.h"
#include "ui/progress_paint_windows.h"
#include "ui/tray_icon_windows.h"

namespace toval {

// The program's file name without its extension: the caption of a message box without one.
std::wstring ApplicationName();

class CUpdateWindow : public IRunHost {
  public:
    // Creates and shows the window and starts the run; the run's messages flow once a loop runs
    // (Exec, or any loop of this thread). Handle() is null when no window could be created, and
    // then no run was started.
    explicit CUpdateWindow(const StartOptions& options);
    ~CUpdateWindow() override;
    CUpdateWindow(const CUpdateWindow&) = delete;
    CUpdateWindow& operator=(const CUpdateWindow&) = delete;

    HWND Handle() const { return Window.load(); }
    // Handles this thread's messages until the window has ended.
    void Exec();
    // What the standard commands do (close, Esc, Enter): the window goes, with its tray icon;
    // the run stops where it stands once the object is destroyed.
    void End();
    bool Ended() const { return IsEnded; }

    // IRunHost. Post is called from worker threads; everything else on ours.
    void Post(uint32_t message, uint32_t wParam, ITransfer* lParam) override;
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        uint32_t type) override;
    void SendUpdateResult(uint32_t callerWindow, uint32_t count) override;
    void PostQuit() override;
    void Invalidate() override;
    void ProgressHandled() override;
    void DebugOutput(const std::string& text) override;

    CUpdateRun& Run() { return *UpdateRun; }
    // Paints these figures instead of the run's (how the README's picture is drawn).
    void FreezeFigures(const PaintedFigures& figures) { Frozen = figures; }
    const TrayIconWindows& Tray() const { return TrayIcon; }
    const WindowImages& Images() const { return Pictures; }
    // Paints the display as it stands onto `dc`, the size of the client area.
    void PaintTo(HDC dc);

  private:
    struct Message {
        uint32_t Id;
        uint32_t WParam;
        ITransfer* LParam;
    };

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();
    void Tick(UINT id);
    // Hands the run the messages its workers posted, in order.
    void DeliverPosted();
    void WakeUp();
    void CatchUpTicks();
    // Ends the process in order when a termination signal has arrived; returns otherwise.
    void CheckTermination();
    [[noreturn]] void ExitAtOnce();
    // Ends the process with `status` once the run has been settled by `settle`, the tray icon
    // gone or on its way.
    [[noreturn]] void ExitAfter(const std::function<void()>& settle, int status);

    WindowImages Pictures;
    ProgressFonts TextFonts;
    TrayIconWindows TrayIcon;
    std::atomic<HWND> Window{nullptr};
    PointerRules Pointer;
    bool IsEnded = false;

    std::mutex QueueLock;
    std::deque<Message> Queue;
    bool WakePending = false;  // a wake-up message is on its way to the window

    std::chrono::steady_clock::time_point LastPump{};
    std::chrono::steady_clock::time_point LastRepaint{};

    std::unique_ptr<CUpdateRun> UpdateRun;  // last: goes first, joining its transfers
    std::optional<PaintedFigures> Frozen;
};

}  // namespace toval
