#include <windows.h>

#include <limits>
#include <map>
#include <unordered_map>

#include "platform/disk_space.h"
#include "platform/wide_text.h"

namespace toval {

namespace {

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The nearest ancestor of `path` (or the path itself) that exists, and the root of its volume.
bool ExistingAncestor(std::wstring path, std::wstring& found, std::wstring& volume) {
    while (!path.empty()) {
        if (Exists(path)) {
            wchar_t root[MAX_PATH + 1];
            if (!::GetVolumePathNameW(path.c_str(), root, MAX_PATH + 1)) return false;
            found = path;
            volume = root;
            return true;
        }
        const size_t slash = path.find_last_of(L"\\/");
        if (slash == std::wstring::npos || slash == 0) return false;
        path.resize(slash);
    }
    return false;
}

std::optional<uint64_t> MeasureFreeBytes(const std::wstring& dir) {
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(dir.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}

std::wstring DirectoryOf(const std::string& path) {
    const std::wstring wide = Widen(path);
    const size_t slash = wide.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : wide.substr(0, slash);
}

}  // namespace

std::optional<SpaceShortage> FindSpaceShortage(
    const std::vector<std::pair<std::string, uint64_t>>& files) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    struct Volume {
        std::wstring Probe;
        uint64_t Needed = 0;
    };
    std::map<std::wstring, Volume> volumes;
    // Files of one directory share its volume: a few look-ups for a catalogue of many files.
    std::unordered_map<std::wstring, std::pair<std::wstring, std::wstring>> directories;
    for (const auto& [path, bytes] : files) {
        const std::wstring dir = DirectoryOf(path);
        auto known = directories.find(dir);
        if (known == directories.end()) {
            std::wstring probe, volume;
            if (!ExistingAncestor(dir, probe, volume)) continue;
            known = directories.emplace(dir, std::make_pair(probe, volume)).first;
        }
        Volume& v = volumes[known->second.second];
        if (v.Probe.empty()) v.Probe = known->second.first;
        v.Needed = bytes > kMax - v.Needed ? kMax : v.Needed + bytes;
    }
    for (const auto& [root, v] : volumes) {
        const std::optional<uint64_t> available = MeasureFreeBytes(v.Probe);
        if (available && v.Needed > *available) return SpaceShortage{v.Needed, *available};
    }
    return std::nullopt;
}

uint64_t FreeBytes(const std::string& dir) { return MeasureFreeBytes(Widen(dir)).value_or(0); }

// Windows has no syncfs, and flushing a whole volume needs an administrator: each file is
// flushed itself.
bool SyncFileSystemsOf(const std::vector<std::string>& paths) {
    bool ok = true;
    for (const std::string& path : paths) {
        const HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            ok = false;
            continue;
        }
        ok = ::FlushFileBuffers(file) && ok;
        ::CloseHandle(file);
    }
    return ok;
}

// NTFS journals its directories, and files are put in place with a write-through rename: there
// is nothing more to flush.
bool SyncDirectory(const std::string& dir) { return Exists(Widen(dir)); }

}  // namespace toval
