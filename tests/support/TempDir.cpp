#include "tests/support/TempDir.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/Utf8Path.h"

namespace toval::test {

TempDir::TempDir() {
    // $TMPDIR (or /tmp) on Linux, the user's temporary folder on Windows; the name is claimed by
    // creating it, so two tests never share one.
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "toval-test-%08x", random());
        std::error_code ec;
        if (std::filesystem::create_directory(base / name, ec)) {
            Root = Utf8(base / name);
            return;
        }
    }
    throw std::runtime_error("no temporary directory could be created");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only directories behind; give write access back before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(FromUtf8(Root), ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(FromUtf8(Root), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(FromUtf8(Root), ec);
}

std::string TempDir::Write(const std::string& relative, const std::string& content) const {
    const std::string full = *this / relative;
    std::filesystem::create_directories(FromUtf8(full).parent_path());
    std::ofstream out(FromUtf8(full), std::ios::binary | std::ios::trunc);
    out << content;
    return full;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(FromUtf8(path), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool WaitForFile(const std::string& path, std::chrono::milliseconds limit) {
    return WaitFor(
        [&] {
            std::error_code ec;
            return std::filesystem::file_size(FromUtf8(path), ec) > 0 && !ec;
        },
        limit);
}

}  // namespace toval::test
