#pragma once
// What the run takes from the system beyond files and transfers: the clock and the starting of
// programs. The program passes the real ones; tests pass their own, so that a test neither sleeps
// nor starts real programs to see what the run would do.

#include <chrono>
#include <string>

#include "platform/process.h"

namespace toval {

class IRunClock {
  public:
    virtual ~IRunClock() = default;
    virtual std::chrono::steady_clock::time_point Now() const = 0;
};

class IProgramStarter {
  public:
    virtual ~IProgramStarter() = default;
    // Runs or opens `path` with `parameters` as one string; not waited for. `mark` is taken
    // care of as the program starts where the system can (see StartMark).
    virtual void Execute(const std::string& path, const std::string& parameters,
                         StartMark* mark) = 0;
    // Registers the component at `path`; not waited for.
    virtual void Register(const std::string& path, StartMark* mark) = 0;
    // Starts the game lobby, when one is found.
    virtual void StartLobby() = 0;
};

// The machine's monotonic clock and its programs.
IRunClock& SystemClock();
IProgramStarter& SystemPrograms();

}  // namespace toval
