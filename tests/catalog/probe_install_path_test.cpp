#include "catalog/install_path.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "catalog/CFileEntry.h"
#include "tests/support/Utf8Path.h"

namespace toval {
namespace {

const BaseDirectories kDirs{"/game/bin", "/wine/windows", "/wine/windows/system32"};

TEST(InstallPath, BuildsFullPaths) {
    struct Case {
        const char* installDir;
        const char* localPath;
        const char* fileName;
        const char* fullPath;  // nullptr: refused
    };
    const Case cases[] = {
        {"CURRENTDIR", "", "a.dll", "/game/bin/a.dll"},
        {"CURRENTDIR", "data\\maps", "a.dll", "/game/bin/data/maps/a.dll"},
        {"", "", "a.dll", "/game/bin/a.dll"},
        {"D:\\Games", "", "a.dll", "/game/bin/a.dll"},
        {"elsewhere", "", "a.dll", "/game/bin/a.dll"},
        {"WINDOWSDIR", "", "a.dll", "/wine/windows/a.dll"},
        {"windowsdir", "", "a.dll", "/wine/windows/a.dll"},
        {"WindowsDir", "fonts", "b.ttf", "/wine/windows/fonts/b.ttf"},
        {"SystemDir", "", "c.ocx", "/wine/windows/system32/c.ocx"},
        {"SYSTEMDIR ", "", "c.ocx", "/game/bin/c.ocx"},
        // Separators as the catalogue spells them: doubled ones fold to one.
        {"CURRENTDIR", "data\\", "a.dll", "/game/bin/data/a.dll"},
        {"CURRENTDIR", "data\\\\maps/", "sub\\a.dll", "/game/bin/data/maps/sub/a.dll"},
        {"CURRENTDIR", "./data", "a..dll", "/game/bin/./data/a..dll"},
        {"CURRENTDIR", "", "...", "/game/bin/..."},
        {"CURRENTDIR", "", "ab:c", "/game/bin/ab:c"},
        // A name that names no file would download to ".update" or "..update" every run.
        {"CURRENTDIR", "", "", nullptr},
        {"CURRENTDIR", "data", "", nullptr},
        {"CURRENTDIR", "", ".", nullptr},
        {"CURRENTDIR", "data", "sub\\.", nullptr},
        {"CURRENTDIR", "", "sub\\", nullptr},
        // Paths that would leave the base are refused.
        {"CURRENTDIR", "", "/etc/passwd", nullptr},
        {"CURRENTDIR", "", "\\etc\\passwd", nullptr},
        {"CURRENTDIR", "/etc", "passwd", nullptr},
        {"CURRENTDIR", "\\\\server\\share", "a.dll", nullptr},
        {"CURRENTDIR", "C:\\Windows", "a.dll", nullptr},
        {"CURRENTDIR", "", "c:a.dll", nullptr},
        {"CURRENTDIR", "", "a:b", nullptr},
        {"CURRENTDIR", "..", "a.dll", nullptr},
        {"CURRENTDIR", "data\\..\\..", "a.dll", nullptr},
        {"CURRENTDIR", "data", "..\\a.dll", nullptr},
        {"SYSTEMDIR", "", "..", nullptr},
        {"CURRENTDIR", "", "a/../../b", nullptr},
    };
    for (const Case& c : cases) {
        CFileEntry entry("stale");
        entry.InstallDir = c.installDir;
        entry.LocalPath = c.localPath;
        entry.FileName = c.fileName;
        const bool built = BuildFullPath(entry, kDirs);
        EXPECT_EQ(built, c.fullPath != nullptr) << c.localPath << " | " << c.fileName;
        EXPECT_EQ(entry.FullPath, c.fullPath ? c.fullPath : "")
            << c.localPath << " | " << c.fileName;
    }
}

TEST(InstallPath, RefusesWhatItCannotPlace) {
    CFileEntry entry;
    entry.FileName = std::string("a.dll\0/../../x", 14);
    EXPECT_FALSE(BuildFullPath(entry, kDirs));
    // Without a known base every path would start at the root directory.
    entry.FileName = "a.dll";
    entry.InstallDir = "WINDOWSDIR";
    EXPECT_FALSE(BuildFullPath(entry, BaseDirectories{"/game", "", ""}));
    EXPECT_TRUE(entry.FullPath.empty());
}

TEST(InstallPath, DirectoriesFromTheSystem) {
    const BaseDirectories dirs = BaseDirectories::FromSystem();
    EXPECT_EQ(dirs.ProgramDir, std::filesystem::canonical(TOVAL_BIN_DIR).string());
    // Compared as paths: the separator is the system's.
    EXPECT_EQ(test::FromUtf8(dirs.SystemDir), test::FromUtf8(dirs.WindowsDir) / "system32");
}

}  // namespace
}  // namespace toval
