#include "tests/engine/TestHost.h"

namespace toval::test {

void TestHost::Post(uint32_t message, uint32_t wParam, ITransfer* lParam) {
    Queue.Push({message, wParam, lParam});
}

void TestHost::ShowMessageBox(const std::string& text, const std::string& caption, uint32_t type) {
    Events.push_back("box " + text);
    Boxes.push_back({text, caption, type});
    if (DuringBox) DuringBox();
}

void TestHost::SendUpdateResult(uint32_t callerWindow, uint32_t count) {
    Events.push_back("result " + std::to_string(count));
    Results.emplace_back(callerWindow, count);
}

void TestHost::PostQuit() {
    Events.push_back("quit");
    ++Quits;
}

bool TestHost::DispatchOne(CUpdateRun& run, std::chrono::milliseconds wait) {
    if (!Queue.WaitUntil(std::chrono::steady_clock::now() + wait)) return false;
    const std::optional<PostedMessage> message = Queue.Pop();
    if (!message) return false;
    run.Dispatch(message->Id, message->WParam, message->LParam);
    return true;
}

bool TestHost::RunUntilQuit(CUpdateRun& run, bool ticks) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Quits == 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!DispatchOne(run, std::chrono::milliseconds(100)) && ticks) {
            ++TicksFired;
            run.OnTimer(WM_TIMER_PUMP);
        }
    }
    return true;
}

std::vector<std::string> Statuses(const std::vector<std::string>& events) {
    std::vector<std::string> out;
    for (const std::string& e : events)
        if (e.rfind("status ", 0) == 0) out.push_back(e.substr(7));
    return out;
}

}  // namespace toval::test
