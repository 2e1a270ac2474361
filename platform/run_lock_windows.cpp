#include <windows.h>

#include "platform/run_lock.h"
#include "platform/wide_text.h"

namespace toval {

namespace {
HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

RunLock::~RunLock() {
    if (AsHandle(Handle) != INVALID_HANDLE_VALUE) ::CloseHandle(AsHandle(Handle));
}

RunLock::State RunLock::TryAcquire() {
    if (Held) return State::Held;
    if (AsHandle(Handle) == INVALID_HANDLE_VALUE) {
        if (!::CreateDirectoryW(Widen(Dir).c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS)
            return State::Unavailable;
        const HANDLE file =
            ::CreateFileW(Widen(Dir + "/run.lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return State::Unavailable;
        Handle = reinterpret_cast<intptr_t>(file);
    }
    // The first byte stands for the whole file: every updater locks that one.
    OVERLAPPED at{};
    if (!::LockFileEx(AsHandle(Handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                      0, &at))
        return ::GetLastError() == ERROR_LOCK_VIOLATION ? State::Busy : State::Unavailable;
    Held = true;
    return State::Held;
}

}  // namespace toval
