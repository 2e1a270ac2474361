#include "platform/directories.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace toval {

namespace {

std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string HomeDirectory() {
    std::string home = Environment("HOME");
    if (!home.empty()) return home;
    // Started without a HOME (from a service, say): the account database still knows it.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    return {};
}

std::string WinePrefix() {
    std::string prefix = Environment("WINEPREFIX");
    if (!prefix.empty()) return WithoutTrailingSeparators(prefix);
    const std::string home = HomeDirectory();
    // Without any home there is no prefix; an empty result makes every path under it refused
    // rather than resolved against the root directory.
    if (home.empty()) return {};
    return WithoutTrailingSeparators(home) + "/.wine";
}

}  // namespace

std::string ProgramDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            std::string exe(buffer.data(), static_cast<std::size_t>(n));
            const std::size_t slash = exe.rfind('/');
            if (slash == std::string::npos) return {};
            return slash == 0 ? std::string("/") : exe.substr(0, slash);
        }
        // The link may have been cut short; try again with room to spare.
        if (buffer.size() >= (1u << 20)) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string WindowsDirectory() {
    const std::string prefix = WinePrefix();
    if (prefix.empty()) return {};
    return (prefix == "/" ? std::string() : prefix) + "/drive_c/windows";
}

std::string SystemDirectory() {
    const std::string windows = WindowsDirectory();
    return windows.empty() ? std::string() : windows + "/system32";
}

std::string TempDirectory() {
    const std::string tmp = Environment("TMPDIR");
    return tmp.empty() ? std::string("/tmp") : WithoutTrailingSeparators(tmp);
}

}  // namespace toval
