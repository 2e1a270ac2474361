// The version resource of a PE file on disk, read the same way on both systems; the parser
// itself has its own tests on bytes in memory.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/pe_version.h"
#include "tests/support/PeBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

TEST(PeFile, ReadsTheVersionOfAFileAndRefusesWhatIsNone) {
    const TempDir temp;
    temp.Write("游戏/game.exe", MakePeImage({.FileVersion = {2, 5, 0, 7}, .TrailingBytes = 5000}));
    temp.Write("游戏/notes.txt", "not an image");
    const fs::path dir = FromUtf8(temp / "游戏");

    VS_FIXEDFILEINFO info{};
    ASSERT_EQ(ReadFixedFileInfo(Utf8(dir / "game.exe"), info), 0);
    EXPECT_EQ(info.dwFileVersionMS, (2u << 16) | 5u);
    EXPECT_EQ(info.dwFileVersionLS, 7u);
    for (const fs::path& none : {dir / "notes.txt", dir / "missing.exe", dir})
        EXPECT_LT(ReadFixedFileInfo(Utf8(none), info), 0) << none;
}

}  // namespace
}  // namespace toval::test
