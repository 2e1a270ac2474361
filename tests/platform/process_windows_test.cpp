// Starting the client's programs on Windows: what Linux checks with its own programs in
// process_test.cpp, with Windows programs.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/process.h"
#include "tests/support/ChildProgram.h"
#include "tests/support/PeBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval {
namespace {

using test::ReadFile;
using test::TempDir;

TEST(WindowsProcess, ClassifiesFindsAndStartsProgramsWithTheirArgumentsAsTheyAre) {
    TempDir dir;
    const std::string program = dir / "游戏 lobby.exe";
    std::filesystem::copy_file(test::FromUtf8(test::BuiltProgram("toval-record-arguments")),
                               test::FromUtf8(program));
    EXPECT_EQ(ClassifyProgram(program), ProgramKind::Windows);
    EXPECT_EQ(ClassifyProgram(dir.Write("readme.txt", "hello")), ProgramKind::Other);
    EXPECT_EQ(ClassifyProgram(dir / "absent.exe"), ProgramKind::Missing);
    EXPECT_EQ(ClassifyProgram(dir.Path()), ProgramKind::Missing);
    EXPECT_FALSE(FindInPath("cmd.exe").empty());
    EXPECT_TRUE(FindInPath(dir / "游戏 lobby.exe").empty()) << "a path is not searched";

    // Blanks, quotes, trailing backslashes and names beyond ASCII arrive as one argument each.
    ASSERT_TRUE(StartProgram(program, {"gameToval", "a b", "say \"hi\"", "C:\\dir\\", "地图"}));
    ASSERT_TRUE(test::WaitForFile(dir / "游戏 lobby.txt"));
    EXPECT_EQ(ReadFile(dir / "游戏 lobby.txt"), "gameToval\na b\nsay \"hi\"\nC:\\dir\\\n地图\n");
    EXPECT_FALSE(StartProgram(dir / "readme.txt", {})) << "a document is no program";
}

TEST(WindowsProcess, ExecuteHandsTheParameterStringOverAsItStands) {
    TempDir dir;
    const std::string script = dir.Write("tool.cmd", "@echo %*> \"%~dp0tool.txt\"\r\n");
    ASSERT_TRUE(ExecuteFile(script, "-v 'two words' \"x y\" C:\\p"));
    ASSERT_TRUE(test::WaitForFile(dir / "tool.txt"));
    EXPECT_EQ(ReadFile(dir / "tool.txt"), "-v 'two words' \"x y\" C:\\p\r\n");
    EXPECT_FALSE(ExecuteFile(dir / "absent.cmd", ""));
}

TEST(WindowsProcess, AComponentIsRegisteredByTheRegsvr32OfItsMachineType) {
    TempDir dir;
    const std::string dll32 = dir / "a32.dll";
    const std::string dll64 = dir / "a64.dll";
    ASSERT_TRUE(test::WritePeFile(dll32, {.Pe64 = false}));
    ASSERT_TRUE(test::WritePeFile(dll64, {.Pe64 = true}));
    wchar_t system[MAX_PATH];
    wchar_t wow64[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::string native = test::Utf8(std::filesystem::path(system) / "regsvr32.exe");
    EXPECT_EQ(RegistrationProgram(dll64), native);
    // A 64-bit Windows keeps the 32-bit programs in a folder of their own.
    const std::string expected32 = GetSystemWow64DirectoryW(wow64, MAX_PATH) > 0
                                       ? test::Utf8(std::filesystem::path(wow64) / "regsvr32.exe")
                                       : native;
    EXPECT_EQ(RegistrationProgram(dll32), expected32);
    EXPECT_NE(expected32, native);
    EXPECT_EQ(RegistrationProgram(dir.Write("not-pe.dll", "hello")), native);
}

}  // namespace
}  // namespace toval
