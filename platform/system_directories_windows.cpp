#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/directories.h"
#include "platform/system_directories.h"
#include "platform/wide_text.h"

namespace toval {

namespace {

// The full path of `path` ("." and ".." steps gone, "/" read as "\"); through junctions and
// symbolic links when it exists, so that every name of one directory compares equal.
std::wstring Resolved(const std::string& path) {
    const std::wstring wide = Widen(path);
    std::wstring full(MAX_PATH + 1, L'\0');
    for (;;) {
        const DWORD n =
            ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return {};
        if (n < full.size()) {
            full.resize(n);
            break;
        }
        full.resize(n + 1);
    }
    const HANDLE handle = ::CreateFileW(
        full.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        std::wstring final(MAX_PATH + 1, L'\0');
        DWORD n =
            ::GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n >= final.size()) {
            final.resize(n + 1);
            n = ::GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        }
        ::CloseHandle(handle);
        if (n > 0 && n < final.size()) {
            final.resize(n);
            // The call names the directory in its long form, \\?\C:\... or \\?\UNC\server\...
            if (final.rfind(L"\\\\?\\UNC\\", 0) == 0)
                full = L"\\" + final.substr(7);
            else if (final.rfind(L"\\\\?\\", 0) == 0)
                full = final.substr(4);
            else
                full = final;
        }
    }
    // A drive's root keeps its separator: "C:\".
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    return full;
}

bool SameWithoutCase(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::vector<std::string> SystemProgramDirectories() {
    std::vector<std::string> dirs;
    const std::string windows = WindowsDirectory();
    if (!windows.empty()) {
        dirs.push_back(windows);
        // The 32-bit programs' System32 on a 64-bit system; named even where the call below
        // gives nothing, since the name is the system's own.
        dirs.push_back(windows + "\\SysWOW64");
    }
    const std::string system = SystemDirectory();
    if (!system.empty()) dirs.push_back(system);
    wchar_t wow64[MAX_PATH + 1];
    const UINT n = ::GetSystemWow64DirectoryW(wow64, MAX_PATH + 1);
    if (n > 0 && n <= MAX_PATH) dirs.push_back(Narrow(std::wstring_view(wow64, n)));
    return dirs;
}

bool IsSystemProgramDirectory(const std::string& directory,
                              const std::vector<std::string>& systemDirectories) {
    if (directory.empty()) return false;
    const std::wstring dir = Resolved(directory);
    if (dir.empty()) return false;
    return std::any_of(systemDirectories.begin(), systemDirectories.end(),
                       [&](const std::string& system) {
                           return !system.empty() && SameWithoutCase(Resolved(system), dir);
                       });
}

bool IsSystemProgramDirectory(const std::string& directory) {
    return IsSystemProgramDirectory(directory, SystemProgramDirectories());
}

}  // namespace toval
