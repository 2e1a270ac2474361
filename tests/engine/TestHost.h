#pragma once
// A deterministic host for the update run: the real queue of posted messages, which the test pumps
// by hand, timers that fire only when the test says so, and a record of everything the run asked
// of its front end, in order.

#include <chrono>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "engine/CUpdateRun.h"
#include "engine/posted_messages.h"
#include "engine/run_host.h"

namespace toval::test {

class TestHost : public IRunHost {
  public:
    struct Box {
        std::string Text;
        std::string Caption;
        uint32_t Type;
    };

    void Post(uint32_t message, uint32_t wParam, ITransfer* lParam) override;
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        uint32_t type) override;
    void SendUpdateResult(uint32_t callerWindow, uint32_t count) override;
    void PostQuit() override;
    void Invalidate() override { ++Invalidates; }
    void ProgressHandled() override { ++ProgressFrames; }
    void DebugOutput(const std::string& text) override { Debug.push_back(text); }
    void StatusChanged(const std::string& text) override { Events.push_back("status " + text); }

    // Dispatches the next posted message to `run`, waiting up to `wait` for one. False when
    // none came.
    bool DispatchOne(CUpdateRun& run, std::chrono::milliseconds wait);
    // Dispatches messages until the run asks to quit. A pump tick (timer 1000) is fired when
    // nothing has arrived for a while and `ticks` allows it. False on a 20-second timeout.
    bool RunUntilQuit(CUpdateRun& run, bool ticks = true);

    // Everything the run asked for, in order: "status …", "box …", "result N", "quit".
    std::vector<std::string> Events;
    std::vector<Box> Boxes;
    std::vector<std::pair<uint32_t, uint32_t>> Results;  // (caller window, count)
    std::vector<std::string> Debug;
    int Quits = 0;
    int Invalidates = 0;
    int ProgressFrames = 0;
    int TicksFired = 0;
    // Runs while a message box is "open", as the window's nested loop would.
    std::function<void()> DuringBox;

  private:
    PostedMessages Queue;
};

// The status texts among the events, in order.
std::vector<std::string> Statuses(const std::vector<std::string>& events);

}  // namespace toval::test
