#pragma once
// Work run on a thread of its own while the caller goes on with something else. Where no thread
// can be had it runs on the caller's thread when the caller waits for it: the outcome is the
// same, only later.

#include <functional>
#include <thread>

namespace toval {

class WorkBeside {
  public:
    explicit WorkBeside(std::function<void()> work);
    // Waits: what the work writes to must outlive it.
    ~WorkBeside() { Wait(); }
    WorkBeside(const WorkBeside&) = delete;
    WorkBeside& operator=(const WorkBeside&) = delete;

    // Returns once the work has run.
    void Wait();

  private:
    std::function<void()> Work;  // still to run here: no thread could be started
    std::thread Thread;
};

}  // namespace toval
