// The version resource of a PE file on disk, read the same way on both systems; the parser
// itself has its own tests on bytes in memory.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/pe_version.h"
#include "tests/support/PeBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

TEST(PeFile, ReadsTheVersionOfAFileAndRefusesWhatIsNone) {
    const TempDir temp;
    const fs::path dir = FromUtf8(temp.Path()) / fs::path(u8"游戏");
    fs::create_directories(dir);
    std::ofstream(dir / "game.exe", std::ios::binary)
        << MakePeImage({.FileVersion = {2, 5, 0, 7}, .TrailingBytes = 5000});
    std::ofstream(dir / "notes.txt") << "not an image";

    VS_FIXEDFILEINFO info{};
    ASSERT_EQ(ReadFixedFileInfo(Utf8(dir / "game.exe"), info), 0);
    EXPECT_EQ(info.dwFileVersionMS, (2u << 16) | 5u);
    EXPECT_EQ(info.dwFileVersionLS, 7u);
    for (const fs::path& none : {dir / "notes.txt", dir / "missing.exe", dir})
        EXPECT_LT(ReadFixedFileInfo(Utf8(none), info), 0) << none;
}

}  // namespace
}  // namespace toval::test
