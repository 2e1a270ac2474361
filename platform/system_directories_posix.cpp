#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "platform/system_directories.h"

namespace toval {

namespace {

// The directory itself when it exists, so that every name of it compares equal; otherwise its
// text without "." and ".." steps or trailing separators.
std::string Resolved(const std::string& path) {
    const std::unique_ptr<char, decltype(&::free)> real(::realpath(path.c_str(), nullptr), &::free);
    if (real) return real.get();
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

}  // namespace

std::vector<std::string> SystemProgramDirectories() {
    std::vector<std::string> dirs = {"/usr/local/sbin", "/usr/local/bin",  "/usr/sbin",
                                     "/usr/bin",        "/sbin",           "/bin",
                                     "/usr/games",      "/usr/local/games"};
    // The C library's own default PATH ("/bin:/usr/bin" with glibc) may name others elsewhere.
    const std::size_t size = ::confstr(_CS_PATH, nullptr, 0);
    if (size > 0) {
        std::string path(size, '\0');
        ::confstr(_CS_PATH, path.data(), size);
        path.resize(size - 1);
        std::size_t start = 0;
        while (start <= path.size()) {
            const std::size_t colon = std::min(path.find(':', start), path.size());
            const std::string dir = path.substr(start, colon - start);
            // An empty entry means the current directory, which is not the system's.
            if (!dir.empty() && dir.front() == '/' &&
                std::find(dirs.begin(), dirs.end(), dir) == dirs.end())
                dirs.push_back(dir);
            start = colon + 1;
        }
    }
    return dirs;
}

bool IsSystemProgramDirectory(const std::string& directory,
                              const std::vector<std::string>& systemDirectories) {
    if (directory.empty()) return false;
    const std::string dir = Resolved(directory);
    return std::any_of(systemDirectories.begin(), systemDirectories.end(),
                       [&](const std::string& system) { return Resolved(system) == dir; });
}

bool IsSystemProgramDirectory(const std::string& directory) {
    return IsSystemProgramDirectory(directory, SystemProgramDirectories());
}

}  // namespace toval
