#include <windows.h>

#include "platform/disk_space.h"
#include "platform/volumes.h"
#include "platform/wide_text.h"

namespace toval {

namespace {

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

// The nearest ancestor of `dir` (or the directory itself) that exists; the root of its volume.
std::optional<VolumeOf> FindVolume(const std::string& dir) {
    std::wstring path = Widen(dir);
    while (!path.empty()) {
        if (Exists(path)) {
            wchar_t root[MAX_PATH + 1];
            if (!::GetVolumePathNameW(path.c_str(), root, MAX_PATH + 1)) return std::nullopt;
            return VolumeOf{Narrow(path), Narrow(root)};
        }
        const size_t slash = path.find_last_of(L"\\/");
        if (slash == std::wstring::npos || slash == 0) return std::nullopt;
        path.resize(slash);
    }
    return std::nullopt;
}

std::optional<uint64_t> MeasureFreeBytes(const std::string& dir) {
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(Widen(dir).c_str(), &available, nullptr, nullptr))
        return std::nullopt;
    return available.QuadPart;
}

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
