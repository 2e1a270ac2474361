#pragma once
// The progress window on Windows: a native window painted with GDI and its tray icon, the Win32
// front end of a run session. It paints and turns the window's messages into the session's
// calls; what they mean is the session's (ui/run_session.h).

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ui/front_end.h"
#include "ui/progress_paint_windows.h"
#include "ui/run_session.h"
#include "ui/tray_icon_windows.h"

namespace toval {

// The program's file name without its extension: the caption of a message box without one.
std::wstring ApplicationName();

class CUpdateWindow : public ISessionFrontEnd {
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

    // ISessionFrontEnd. WakeUp is called from worker threads; everything else on ours.
    bool WakeUp() override;
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        uint32_t type) override;
    uint32_t OwnWindowId() const override;
    void EndLoop() override;
    void Invalidate() override;
    void ProgressHandled() override;
    void LeaveScreen() override { TrayIcon.Remove(); }
    void AwaitLeftScreen() override { TrayIcon.AwaitRemoval(kTrayAnswerWait); }

    RunSession& Session() { return *RunHost; }
    CUpdateRun& Run() { return RunHost->Run(); }
    // Paints these figures instead of the run's (how the README's picture is drawn).
    void FreezeFigures(const PaintedFigures& figures) { Frozen = figures; }
    const TrayIconWindows& Tray() const { return TrayIcon; }
    const WindowImages& Images() const { return Pictures; }
    // Paints the display as it stands onto `dc`, the size of the client area.
    void PaintTo(HDC dc);

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();

    WindowImages Pictures;
    ProgressFonts TextFonts;
    TrayIconWindows TrayIcon;
    std::atomic<HWND> Window{nullptr};
    bool IsEnded = false;
    std::optional<PaintedFigures> Frozen;
    std::unique_ptr<RunSession> RunHost;  // last: goes first, joining its transfers
};

}  // namespace toval
