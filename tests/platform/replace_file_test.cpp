#include <gtest/gtest.h>

#include <filesystem>

#include "platform/replace_file.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

// What a state file must be after every outcome: the new content whole, or the old one whole,
// and no temporary left beside it.
TEST(ReplaceFileWith, LeavesTheNewContentOrTheOldOneAndNothingBeside) {
    TempDir dir;
    dir.Write("state", "old");
    EXPECT_TRUE(ReplaceFileWith(dir / "state", "new content"));
    EXPECT_EQ(ReadFile(dir / "state"), "new content");
    EXPECT_TRUE(ReplaceFileWith(dir / "fresh", ""));
    EXPECT_EQ(ReadFile(dir / "fresh"), "");

    fs::create_directories(FromUtf8(dir / "taken"));  // a directory where the file goes
    EXPECT_FALSE(ReplaceFileWith(dir / "taken", "x"));
    EXPECT_FALSE(ReplaceFileWith(dir / "no/such/dir/state", "x"));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(FromUtf8(dir.Path()))) ++entries;
    EXPECT_EQ(entries, 3u);  // state, fresh, taken
}

}  // namespace
}  // namespace toval::test
