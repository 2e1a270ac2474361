#include "platform/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace toval {

RunLock::~RunLock() {
    if (Handle >= 0) ::close(static_cast<int>(Handle));
}

RunLock::State RunLock::TryAcquire() {
    if (Held) return State::Held;
    if (Handle < 0) {
        if (::mkdir(Dir.c_str(), 0755) != 0 && errno != EEXIST) return State::Unavailable;
        const std::string path = Dir + "/run.lock";
        Handle = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (Handle < 0) return State::Unavailable;
    }
    while (::flock(static_cast<int>(Handle), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? State::Busy : State::Unavailable;
    }
    Held = true;
    return State::Held;
}

}  // namespace toval
