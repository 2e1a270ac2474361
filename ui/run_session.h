#pragma once
// What the three front ends (the Qt window, the Win32 window, the console) have in common: the run
// built from the start options, the queue its workers post to, the two ticks, the termination
// check, every way the process ends, and what the player's keys and pointer mean. A front end
// adds only its system: a loop that calls back in, painting, a tray icon, message boxes.
//
// Everything but Post runs on the front end's thread, the one that made the session.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/CUpdateRun.h"
#include "engine/posted_messages.h"
#include "engine/run_host.h"
#include "ui/pointer_rules.h"
#include "ui/progress_stream.h"
#include "ui/start_options.h"

namespace toval {

// The front end's side of a session.
class ISessionFrontEnd {
  public:
    virtual ~ISessionFrontEnd() = default;
    // Any thread: posted messages wait; the front end soon calls RunSession::DeliverPosted on
    // its own thread. False when the wake-up could not be sent (the next tick tries again).
    virtual bool WakeUp() = 0;
    // Shows a message box and returns once it is closed; an empty caption means the
    // application's name.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption,
                                uint32_t type) = 0;
    // The window the result message names as its sender; 0 for none.
    virtual uint32_t OwnWindowId() const = 0;
    // The run is over: the front end's loop ends once the handler that asked has returned.
    virtual void EndLoop() = 0;
    // The repaint tick.
    virtual void Invalidate() = 0;
    // One progress notification handled: the tray icon steps a frame.
    virtual void ProgressHandled() {}
    virtual void StatusChanged(const std::string& text) { (void)text; }
    // The process is about to end: what the front end shows goes (the tray icon, which would
    // otherwise stay dead in the tray; the console's progress line). Asked before the run
    // settles, so that the system works on it meanwhile, and waited for after.
    virtual void LeaveScreen() {}
    virtual void AwaitLeftScreen() {}
};

// What a key does to the window.
enum class KeyName { Enter, Escape, Other };

class RunSession : public IRunHost {
  public:
    // Builds the run; nothing happens until Start.
    RunSession(ISessionFrontEnd& frontEnd, const StartOptions& options);
    // Cancels and joins the transfers; what they still post is dropped.
    ~RunSession() override;
    RunSession(const RunSession&) = delete;
    RunSession& operator=(const RunSession&) = delete;

    // Opens the run and asks for the first pump step at once: nobody gains from waiting a
    // period before the catalogue is asked for.
    void Start();

    // The front end's loop calls these.
    // Hands the run the messages that were waiting when the wake-up came, in order; those that
    // keep arriving meanwhile wait for the next wake-up, behind the ticks and paints. A tick
    // starved by a stream of messages is run in between.
    void DeliverPosted();
    // Timer `id` (WM_TIMER_PUMP or WM_TIMER_REPAINT) has fired.
    void Tick(uint32_t id);
    // Ends the process in order when a termination signal has arrived; returns otherwise. The
    // ticks check it, so a signal acts within a period, in a message box's loop too.
    void CheckTermination();
    // The window has ended by the player's command or the run's end: nothing more is delivered.
    void EndWindow();
    bool Ended() const { return WindowEnded; }
    // The run has asked to end, or the window has ended: the front end's loop may stop.
    bool LoopOver() const { return WindowEnded || QuitAsked; }

    // The player's input. A click on the close spot ends the process here, at once.
    PointerStep PointerPressed(layout::Point client, layout::Point screen);
    PointerStep PointerMoved(layout::Point client, layout::Point screen, bool buttonHeld);
    void PointerReleased(layout::Point client);
    // True when the key ends the window, as the standard dialog commands do: Enter (there is no
    // default button) and Esc, without a modifier.
    static bool KeyEndsWindow(KeyName key, bool modified);

    // The exit status of the run as it stands: 0 when the client is current or was updated, 1
    // when it failed or was stopped before its end. The same in the window and the console.
    int ExitStatus() const;
    // Ends the process at once, as the close spot does: the run stops where it stands; the
    // transfer in progress leaves its partial file for the next run.
    [[noreturn]] void ExitAtOnce();

    CUpdateRun& Run() { return *UpdateRun; }
    const CUpdateRun& Run() const { return *UpdateRun; }

    // IRunHost.
    void Post(uint32_t message, uint32_t wParam, ITransfer* lParam) override;
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        uint32_t type) override;
    void SendUpdateResult(uint32_t callerWindow, uint32_t count) override;
    void PostQuit() override;
    void Invalidate() override;
    void ProgressHandled() override;
    void DebugOutput(const std::string& text) override;
    void StatusChanged(const std::string& text) override;

  private:
    // Settles the run with `settle`, the tray icon going meanwhile, and ends the process with
    // `status`, or with the run's own exit status when none is given.
    template <typename Settle>
    [[noreturn]] void ExitAfter(Settle settle, std::optional<int> status);
    void WakeUpIfWaiting();
    void CatchUpTicks();
    // The last word of the run to the launcher's stream and the log, once.
    void EndProgress(int exitStatus);

    ISessionFrontEnd& FrontEnd;
    const StartOptions Options;
    PostedMessages Queue;
    PointerRules Pointer;
    ProgressStream Progress;
    std::unique_ptr<RunLog> Log;
    bool Finished = false;
    std::string LastMessage;  // the text of the last message box
    bool WindowEnded = false;
    bool QuitAsked = false;  // the run is over: nothing more is delivered
    bool PumpDueNow = false;
    std::chrono::steady_clock::time_point LastPump{};
    std::chrono::steady_clock::time_point LastRepaint{};
    std::unique_ptr<CUpdateRun> UpdateRun;  // last: goes first, joining its transfers
};

}  // namespace toval
