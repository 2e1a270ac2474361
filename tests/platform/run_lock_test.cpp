// One run per client directory, on both systems; and temporary files that are never reused.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/directories.h"
#include "platform/run_lock.h"
#include "platform/temp_file.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

TEST(RunLock, OneHolderAtATimeAndTheNextOnceItHasGone) {
    const TempDir temp;
    const fs::path client = FromUtf8(temp.Path()) / fs::path(u8"客户端");
    fs::create_directories(client);
    const std::string state = StateDirectory(Utf8(client));
    {
        auto first = std::make_unique<RunLock>(state);
        RunLock second(state);
        EXPECT_EQ(first->TryAcquire(), RunLock::State::Held);
        EXPECT_EQ(first->TryAcquire(), RunLock::State::Held);
        EXPECT_EQ(second.TryAcquire(), RunLock::State::Busy);
        first.reset();
        EXPECT_EQ(second.TryAcquire(), RunLock::State::Held);
        EXPECT_TRUE(second.IsHeld());
    }
    // A state directory that cannot be made: the run goes on without a lock.
    std::ofstream(client / "plain-file") << "x";
    EXPECT_EQ(RunLock(Utf8(client / "plain-file" / "state")).TryAcquire(),
              RunLock::State::Unavailable);
}

TEST(TempFile, EachIsNewEmptyAndWhereTheSystemKeepsThem) {
    std::set<std::string> made;
    const std::string tmp = TempDirectory();
    const fs::path tmpDir = FromUtf8(tmp);
    for (int i = 0; i < 20; ++i) {
        const std::string path = CreateTempFile("Xml", ".tmp");
        ASSERT_FALSE(path.empty());
        const fs::path p = FromUtf8(path);
        EXPECT_TRUE(fs::is_regular_file(p));
        EXPECT_EQ(fs::file_size(p), 0u);
        EXPECT_TRUE(p.filename().string().starts_with("Xml"));
        EXPECT_EQ(p.extension(), ".tmp");
        EXPECT_TRUE(fs::equivalent(p.parent_path(), tmpDir));
        made.insert(path);
    }
    EXPECT_EQ(made.size(), 20u);
    for (const std::string& path : made) fs::remove(FromUtf8(path));
}

}  // namespace
}  // namespace toval::test
