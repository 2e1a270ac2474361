#include "net/CWorkerThread.h"

#include <functional>
#include <system_error>
#include <utility>

namespace toval {

CWorkerThread::CWorkerThread() = default;

CWorkerThread::~CWorkerThread() {
    // A derived class has joined already, so this returns at once; it only keeps a forgotten join
    // from ending the process through a joinable std::thread.
    Join();
}

bool CWorkerThread::StartThread() {
    // Holding the handle lock across creation keeps a concurrent Join from taking the handle
    // before it is stored, even when the run ends at once.
    std::lock_guard handleLock(HandleMutex);
    if (ThreadHandle.joinable())
        return false;  // a thread is still held: the caller must join first
    {
        std::lock_guard idleLock(IdleMutex);
        Idle = false;
    }
    try {
        ThreadHandle = std::thread(&CWorkerThread::ThreadBody, this);
    } catch (const std::system_error&) {
        {
            std::lock_guard idleLock(IdleMutex);
            Idle = true;
        }
        IdleChanged.notify_all();
        return false;
    }
    ThreadId = static_cast<uint32_t>(std::hash<std::thread::id>{}(ThreadHandle.get_id()));
    return true;
}

void CWorkerThread::Join() {
    {
        std::unique_lock idleLock(IdleMutex);
        IdleChanged.wait(idleLock, [this] { return Idle; });
    }
    std::thread held;
    {
        std::lock_guard handleLock(HandleMutex);
        held = std::exchange(ThreadHandle, std::thread());
    }
    if (held.joinable()) held.join();
}

void CWorkerThread::ThreadBody() {
    Run();
    // Notifying under the lock means the object is not touched after a waiting Join can see Idle,
    // so a caller that destroys the object right after Join never races this thread.
    std::lock_guard idleLock(IdleMutex);
    Idle = true;
    IdleChanged.notify_all();
}

}  // namespace toval
