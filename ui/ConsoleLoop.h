#pragma once
// The console front end's message loop: a thread-safe queue of posted messages, the two 100 ms
// timers, and the host services of the run, with every status text printed to stdout.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "engine/CUpdateRun.h"
#include "engine/run_host.h"

namespace toval {

class ConsoleLoop : public IRunHost {
  public:
    ConsoleLoop();
    ~ConsoleLoop() override;

    // Safe from any thread.
    void Post(uint32_t message, uint32_t wParam, ITransfer* lParam) override;

    void ShowMessageBox(const std::string& text, const std::string& caption,
                        uint32_t type) override;
    void SendUpdateResult(uint32_t callerWindow, uint32_t count) override;
    void PostQuit() override;
    void Invalidate() override;
    void DebugOutput(const std::string& text) override;
    void StatusChanged(const std::string& text) override;

    // Dispatches posted messages and timer ticks to `run` until the run asks to quit, until it
    // can go no further, or until a termination signal ends it. Messages still queued then are
    // dropped.
    void Run(CUpdateRun& run);
    // The signal that ended the loop, or 0.
    int TerminatedBy() const { return Signal; }

  private:
    struct Message {
        uint32_t Id;
        uint32_t WParam;
        ITransfer* LParam;
    };

    // The progress line lives on stderr and only on a terminal.
    void DrawProgress();
    void ClearProgress();

    std::mutex QueueLock;
    std::condition_variable QueueChanged;
    std::deque<Message> Queue;
    bool QuitPosted = false;  // touched on the loop's thread only
    int Signal = 0;

    CUpdateRun* ActiveRun = nullptr;
    bool ProgressOnTerminal = false;
    bool ProgressShown = false;
};

}  // namespace toval
