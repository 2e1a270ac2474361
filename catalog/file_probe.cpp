#include "catalog/file_probe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_time.h"
#include "platform/status.h"

namespace toval {

LocalFile::LocalFile(const std::string& path) {
    // O_NONBLOCK: a FIFO in the client's directory must not hold the run waiting for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        Error = LastErrorStatus();
        return;
    }
    if (fstat(fd, &Info) != 0) {
        Error = LastErrorStatus();
    } else if (!S_ISREG(Info.st_mode)) {
        Error = StatusFromError(S_ISDIR(Info.st_mode) ? EISDIR : EINVAL);
    } else {
        Fd = fd;
        return;
    }
    close(fd);
}

LocalFile::~LocalFile() {
    if (Fd >= 0) close(Fd);
}

bool FileExists(const std::string& path) { return LocalFile(path).IsOpen(); }

int32_t ReadFileDate(const std::string& path, FILETIME& out) {
    const LocalFile file(path);
    if (!file.IsOpen()) return file.Status();
    out = FileTimeFromTimespec(file.Stat().st_mtim);
    return 0;
}

}  // namespace toval
