#pragma once
// A minimal thread holder: one run at a time, joined explicitly.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace toval {

class CWorkerThread {
  public:
    CWorkerThread();
    // A derived class joins in its own destructor, before its fields go; the join here only
    // keeps a forgotten one from ending the process, and returns at once otherwise.
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Starts Run() on a new thread; false when no thread could be created. Callers join first.
    bool StartThread();
    // Waits until no run is in progress, then joins the thread if one is held. Returns at once
    // when nothing runs and nothing is held; safe to call twice.
    void Join();

    uint32_t ThreadId = 0;

  protected:
    virtual void Run() = 0;

  private:
    void ThreadBody();

    std::mutex IdleMutex;
    std::condition_variable IdleChanged;
    bool Idle = true;  // the manual-reset IdleEvent, signalled while no run is in progress
    std::mutex HandleMutex;
    std::thread ThreadHandle;
};

}  // namespace toval
