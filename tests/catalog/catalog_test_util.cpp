// One file for both systems: the catalogue tests' folder is built whole on each of them.
#include "tests/catalog/catalog_test_util.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/file_time.h"
#include "tests/support/Utf8Path.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include "platform/wide_text.h"
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace toval::test {

bool WriteFileAt(const std::string& path, const std::string& content) {
    const std::filesystem::path target = FromUtf8(path);
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    return !out.fail();
}

std::string ReadFileAt(const std::string& path) {
    std::ifstream in(FromUtf8(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#ifdef _WIN32

bool SetLastWriteTime(const std::string& path, uint64_t fileTime) {
    const HANDLE file = ::CreateFileW(Widen(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::FILETIME time{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    const bool set = ::SetFileTime(file, nullptr, nullptr, &time) != 0;
    ::CloseHandle(file);
    return set;
}

long PeakMemoryKiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

#else

bool SetLastWriteTime(const std::string& path, uint64_t fileTime) {
    const timespec times[2] = {{0, UTIME_OMIT}, TimespecFromFileTime(FileTimeFromU64(fileTime))};
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

long PeakMemoryKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

#endif

}  // namespace toval::test
