#include "platform/disk_space.h"
#include "platform/volumes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <map>
#include <unordered_map>

namespace toval {

// The nearest ancestor of `path` (or the path itself) that exists; its device is the volume.
std::optional<VolumeOf> FindVolume(const std::string& dir) {
    struct stat st {};
    std::string path = dir;
    while (!path.empty()) {
        if (::stat(path.c_str(), &st) == 0) return VolumeOf{path, std::to_string(st.st_dev)};
        const size_t slash = path.find_last_of('/');
        if (path == "/" || slash == std::string::npos) return std::nullopt;
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
    return std::nullopt;
}

std::optional<uint64_t> MeasureFreeBytes(const std::string& dir) {
    struct statvfs fs {};
    if (::statvfs(dir.c_str(), &fs) != 0) return std::nullopt;
    return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
}

bool SyncFileSystemsOf(const std::vector<std::string>& paths) {
    bool ok = true;
    std::unordered_map<std::string, bool> directories;
    std::map<dev_t, bool> synced;
    for (const std::string& path : paths) {
        const size_t slash = path.find_last_of('/');
        const std::string dir =
            slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
        if (!directories.emplace(dir, true).second) continue;
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            ok = false;
        } else if (synced.emplace(st.st_dev, true).second && ::syncfs(fd) != 0) {
            ok = false;
        }
        if (fd >= 0) ::close(fd);
    }
    return ok;
}

bool SyncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

}  // namespace toval
