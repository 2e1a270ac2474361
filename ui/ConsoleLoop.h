#pragma once
// The console front end of a run session: a loop that waits for the session's wake-ups and its
// two 100 ms ticks, with every status text printed to stdout and a progress line on a terminal.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "ui/run_session.h"

namespace toval {

class ConsoleLoop : public ISessionFrontEnd {
  public:
    ConsoleLoop();
    ~ConsoleLoop() override;

    // Starts `session`'s run and drives it until the run asks to quit or can go no further; a
    // termination signal ends the process from inside (RunSession::CheckTermination).
    void Run(RunSession& session);

    // ISessionFrontEnd. WakeUp is safe from any thread.
    bool WakeUp() override;
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        uint32_t type) override;
    // The console has no window of its own to name.
    uint32_t OwnWindowId() const override { return 0; }
    void EndLoop() override {}
    void Invalidate() override { DrawProgress(); }
    void StatusChanged(const std::string& text) override;
    void LeaveScreen() override { ClearProgress(); }

  private:
    // The progress line lives on stderr and only on a terminal.
    void DrawProgress();
    void ClearProgress();

    std::mutex WakeLock;
    std::condition_variable Woken;
    bool WakePending = false;

    RunSession* Active = nullptr;
    bool ProgressOnTerminal = false;
    bool ProgressShown = false;
};

}  // namespace toval
