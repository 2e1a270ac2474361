#include "platform/work_beside.h"

#include <system_error>

namespace toval {

WorkBeside::WorkBeside(std::function<void()> work) : Work(std::move(work)) {
    try {
        Thread = std::thread(Work);  // a copy: on failure the work is still here to run
        Work = nullptr;
    } catch (const std::system_error&) {
    }
}

void WorkBeside::Wait() {
    if (Thread.joinable()) Thread.join();
    if (Work) {
        Work();
        Work = nullptr;
    }
}

}  // namespace toval
