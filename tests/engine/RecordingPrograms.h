#pragma once
// The run's clock and program starts, held by the test. Program starts are recorded instead of
// made: what the run would have started, in order. A fake because a started program's effect is
// only seen through files it writes, too late and too loosely to tell one start from two.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "engine/run_services.h"

namespace toval::test {

// A clock that moves only when the test moves it, so that waiting costs no time.
class ManualClock : public IRunClock {
  public:
    std::chrono::steady_clock::time_point Now() const override { return At; }
    std::chrono::steady_clock::time_point At = std::chrono::steady_clock::now();
};

class RecordingPrograms : public IProgramStarter {
  public:
    void Execute(const std::string& path, const std::string& parameters, StartMark*) override {
        if (BeforeStart) BeforeStart(path);
        Started.push_back("execute " + path + " " + parameters);
    }
    void Register(const std::string& path, StartMark*) override {
        if (BeforeStart) BeforeStart(path);
        Started.push_back("register " + path);
    }
    void StartLobby() override { Started.push_back("lobby"); }

    std::vector<std::string> Started;
    // Called as a program is about to start (a test may end the process there).
    std::function<void(const std::string&)> BeforeStart;
};

}  // namespace toval::test
