#include "platform/directories.h"

#include <cstdlib>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

namespace toval {
namespace {

// Sets (or unsets, for nullopt) an environment variable for the life of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : Name(name) {
        if (const char* old = std::getenv(name)) Old = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (Old)
            setenv(Name, Old->c_str(), 1);
        else
            unsetenv(Name);
    }

  private:
    const char* Name;
    std::optional<std::string> Old;
};

TEST(Directories, ProgramDirectoryIsWhereTheExecutableLies) {
    // The kernel names the executable by its resolved path; the build directory may be reached
    // through a link.
    EXPECT_EQ(ProgramDirectory(), std::filesystem::canonical(TOVAL_BIN_DIR).string());
}

TEST(Directories, WindowsAndSystemLieInTheWinePrefix) {
    struct Case {
        std::optional<std::string> prefix;
        std::optional<std::string> home;
        const char* windows;
    };
    const Case cases[] = {
        {"/opt/wine", "/home/p", "/opt/wine/drive_c/windows"},
        {"/opt/wine//", "/home/p", "/opt/wine/drive_c/windows"},
        {"", "/home/p", "/home/p/.wine/drive_c/windows"},
        {std::nullopt, "/home/p/", "/home/p/.wine/drive_c/windows"},
    };
    for (const Case& c : cases) {
        ScopedEnv prefix("WINEPREFIX", c.prefix);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(WindowsDirectory(), c.windows);
        EXPECT_EQ(SystemDirectory(), std::string(c.windows) + "/system32");
    }
}

TEST(Directories, TempDirectory) {
    struct Case {
        std::optional<std::string> tmpdir;
        const char* expected;
    };
    const Case cases[] = {
        {std::nullopt, "/tmp"}, {"", "/tmp"}, {"/var/tmp/", "/var/tmp"}, {"/x", "/x"}};
    for (const Case& c : cases) {
        ScopedEnv tmp("TMPDIR", c.tmpdir);
        EXPECT_EQ(TempDirectory(), c.expected);
    }
}

}  // namespace
}  // namespace toval
