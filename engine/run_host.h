#pragma once
// What the update run needs from the front end that drives it (the window or the console).
// The run is a set of handlers called one at a time on one thread, in the order their messages
// were posted; the host owns that loop.

#include <cstdint>
#include <string>

#include "net/messages.h"

namespace toval {

constexpr uint32_t WM_UPDATE_RESULT = 890;
constexpr uint32_t WM_TIMER_PUMP = 1000;     // timer id: the download pump
constexpr uint32_t WM_TIMER_REPAINT = 1001;  // timer id: the pump and the repaint tick
constexpr uint32_t kTimerPeriodMs = 100;
// The numbers are the Windows ones (WM_COMMAND, WM_TIMER, MB_OK, MB_ICONERROR) under names of our
// own: <windows.h> takes its names as macros, which would rewrite these wherever it came first.
constexpr uint32_t kCommandMessage = 0x0111;  // wParam: low word the command id
constexpr uint32_t kTimerMessage = 0x0113;    // wParam: the timer id
constexpr uint32_t kCommandConnect = 1005;    // command id: queue another catalogue transfer
constexpr uint32_t kCommandNothing = 1004;    // command id: accepted, does nothing

// Message box styles.
constexpr uint32_t kBoxOk = 0x0;
constexpr uint32_t kBoxIconError = 0x10;

class IRunHost : public IMessageSink {
  public:
    // Shows a message box and returns when it has been closed. The window runs a nested loop
    // meanwhile, so the run's handlers may re-enter; the console prints it and returns at once.
    // An empty caption means the application's name.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption,
                                uint32_t type) = 0;
    // Delivers WM_UPDATE_RESULT with `count` to the caller's window and waits until it is
    // handed over. Called only when the caller window is not 0.
    virtual void SendUpdateResult(uint32_t callerWindow, uint32_t count) = 0;
    // Ends the loop once the handler that asked has returned.
    virtual void PostQuit() = 0;
    // Asks for a repaint of the whole display without erasing (the repaint tick).
    virtual void Invalidate() = 0;
    // A progress notification has been handled: the tray icon steps one frame.
    virtual void ProgressHandled() {}
    // Debugger output: stderr, only when TOVAL_UPDATER_DEBUG is set.
    virtual void DebugOutput(const std::string& text) = 0;
    // The status line has just been replaced by `text`. Called for every change, in order, so a
    // front end that prints each text misses none even when several are set between two ticks.
    virtual void StatusChanged(const std::string& text) { (void)text; }
};

}  // namespace toval
