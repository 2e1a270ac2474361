#pragma once
// One update run per client directory at a time. Two updaters writing the same files would
// install each other's half-written downloads; the lock is a lock on a file in the state directory
// (flock on Linux, LockFileEx on Windows), which the system releases when the process ends,
// however it ends.

#include <cstdint>
#include <string>

namespace toval {

// The directory beside the program where the updater keeps what it needs between runs.
std::string StateDirectory(const std::string& programDir);

class RunLock {
  public:
    enum class State {
        Held,         // this process holds the lock
        Busy,         // another process holds it
        Unavailable,  // no lock file can be made (a read-only directory, say)
    };

    explicit RunLock(std::string stateDir) : Dir(std::move(stateDir)) {}
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Never waits. Once held, stays held until destruction.
    State TryAcquire();
    bool IsHeld() const { return Held; }

  private:
    std::string Dir;
    // The lock file's descriptor (a HANDLE on Windows, whose invalid value is -1 as well).
    intptr_t Handle = -1;
    bool Held = false;
};

}  // namespace toval
