// Which directories the updater refuses to work on: each name a system program directory can go
// by counts, and nothing else does, however close its name.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/system_directories.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

#ifdef _WIN32
#include "platform/directories.h"
#endif

namespace toval::test {
namespace {

namespace fs = std::filesystem;

struct Case {
    std::string Dir;
    bool System;
};

void ExpectAnswers(const std::vector<Case>& cases, const std::vector<std::string>& list) {
    for (const Case& c : cases)
        EXPECT_EQ(IsSystemProgramDirectory(c.Dir, list), c.System) << "'" << c.Dir << "'";
}

#ifndef _WIN32

TEST(SystemProgramDirectory, EveryNameOfTheDefaultPathsDirectories) {
    TempDir tmp;
    fs::create_directories(FromUtf8(tmp / "client/bin"));
    fs::create_symlink("/usr/bin", FromUtf8(tmp / "to-usr-bin"));
    fs::create_symlink("/bin/", FromUtf8(tmp / "to-bin"));
    fs::create_symlink(FromUtf8(tmp / "to-usr-bin"), FromUtf8(tmp / "to-link"));
    fs::create_symlink("/usr", FromUtf8(tmp / "to-usr"));
    fs::create_symlink(FromUtf8(tmp / "client"), FromUtf8(tmp / "to-client"));
    const std::vector<Case> cases = {
        {"/usr/local/sbin", true},
        {"/usr/local/bin", true},
        {"/usr/sbin", true},
        {"/usr/bin", true},
        {"/sbin", true},
        {"/bin", true},
        {"/usr/games", true},
        {"/usr/local/games", true},
        {"/usr/bin/", true},
        {"/usr//bin/.", true},
        {"/usr/sbin/../bin", true},
        {tmp / "to-usr-bin", true},
        {tmp / "to-bin", true},  // /bin, itself a link on a merged /usr
        {tmp / "to-link", true},
        {tmp / "to-usr/bin", true},
        {"", false},
        {"/", false},
        {"/usr", false},
        {"/usr/lib/toval-updater", false},
        {"/usr/bin/no-such-dir", false},
        {"/usr/bin2", false},
        {"/USR/BIN", false},  // another directory on a system whose names have letter case
        {tmp / "to-usr", false},
        {tmp / "client", false},
        {tmp / "client/bin", false},
        {tmp / "to-client", false},
    };
    ExpectAnswers(cases, SystemProgramDirectories());
}

TEST(SystemProgramDirectory, ListedDirectoriesAreResolvedToo) {
    TempDir tmp;
    fs::create_directories(FromUtf8(tmp / "real"));
    fs::create_directories(FromUtf8(tmp / "other"));
    fs::create_symlink(FromUtf8(tmp / "real"), FromUtf8(tmp / "listed"));
    ExpectAnswers({{tmp / "real", true}, {tmp / "listed/", true}, {tmp / "other", false}},
                  {tmp / "listed", "relative/bin", ""});
}

#else

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

TEST(SystemProgramDirectory, TheWindowsDirectoryAndItsSystemFoldersInAnySpelling) {
    const std::string windows = WindowsDirectory();
    ASSERT_FALSE(windows.empty());
    std::string slashed = Lower(windows);
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    const std::vector<Case> cases = {
        {windows, true},
        {Upper(windows), true},
        {slashed + "/", true},
        {windows + "\\System32", true},
        {Upper(windows) + "\\SYSTEM32\\", true},
        {windows + "\\SysWOW64", true},
        {windows + "\\system32\\..\\syswow64", true},
        {"", false},
        {windows + "x", false},
        {windows + "\\Temp", false},
        {windows + "\\System32\\drivers", false},
        {windows.substr(0, 3), false},  // the drive's root
    };
    ExpectAnswers(cases, SystemProgramDirectories());
}

TEST(SystemProgramDirectory, ListedDirectoriesCompareWithoutLetterCase) {
    TempDir tmp;
    fs::create_directories(FromUtf8(tmp / "Game"));
    ExpectAnswers({{tmp / "GAME", true}, {tmp / "game\\", true}, {tmp / "Games", false}},
                  {tmp / "game"});
}

#endif

}  // namespace
}  // namespace toval::test
