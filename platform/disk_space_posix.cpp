#include "platform/disk_space.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <limits>
#include <map>
#include <unordered_map>

namespace toval {

namespace {

// The nearest ancestor of `path` (or the path itself) that exists, with its device.
bool ExistingAncestor(std::string path, std::string& found, dev_t& device) {
    struct stat st {};
    while (!path.empty()) {
        if (::stat(path.c_str(), &st) == 0) {
            found = path;
            device = st.st_dev;
            return true;
        }
        const size_t slash = path.find_last_of('/');
        if (path == "/" || slash == std::string::npos) return false;
        path = slash == 0 ? "/" : path.substr(0, slash);
    }
    return false;
}

std::optional<uint64_t> MeasureFreeBytes(const std::string& dir) {
    struct statvfs fs {};
    if (::statvfs(dir.c_str(), &fs) != 0) return std::nullopt;
    return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
}

}  // namespace

std::optional<SpaceShortage> FindSpaceShortage(
    const std::vector<std::pair<std::string, uint64_t>>& files) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    struct Volume {
        std::string Probe;
        uint64_t Needed = 0;
    };
    std::map<dev_t, Volume> volumes;
    // Files of one directory share its file system: a catalogue of 100,000 files in a few
    // directories costs a few look-ups, not 100,000.
    std::unordered_map<std::string, std::pair<std::string, dev_t>> directories;
    for (const auto& [path, bytes] : files) {
        const std::string dir = path.substr(0, path.find_last_of('/'));
        auto known = directories.find(dir);
        if (known == directories.end()) {
            std::string probe;
            dev_t device{};
            if (!ExistingAncestor(dir.empty() ? "/" : dir, probe, device)) continue;
            known = directories.emplace(dir, std::make_pair(probe, device)).first;
        }
        const auto& [probe, device] = known->second;
        Volume& v = volumes[device];
        if (v.Probe.empty()) v.Probe = probe;
        v.Needed = bytes > kMax - v.Needed ? kMax : v.Needed + bytes;
    }
    for (const auto& [device, v] : volumes) {
        const std::optional<uint64_t> available = MeasureFreeBytes(v.Probe);
        if (available && v.Needed > *available) return SpaceShortage{v.Needed, *available};
    }
    return std::nullopt;
}

uint64_t FreeBytes(const std::string& dir) { return MeasureFreeBytes(dir).value_or(0); }

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
