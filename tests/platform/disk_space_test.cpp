// Measuring room before writing, and making writes durable, on both systems.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>

#include "platform/disk_space.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

TEST(DiskSpace, FilesThatFitPassAndFilesThatDoNotAreMeasuredAtTheirNearestDirectory) {
    const TempDir temp;
    const fs::path dir = FromUtf8(temp.Path());
    const uint64_t free = FreeBytes(Utf8(dir));
    ASSERT_GT(free, 0u);
    // Not yet existing directories are measured where the files will go: the temporary disk.
    const std::string later = Utf8(dir / "not" / "yet" / "there.dat");
    EXPECT_EQ(FindSpaceShortage({{later, 1024}, {Utf8(dir / "a.dat"), 1024}}), std::nullopt);
    const uint64_t half = std::numeric_limits<uint64_t>::max() / 2;
    const std::optional<SpaceShortage> shortage =
        FindSpaceShortage({{later, half}, {Utf8(dir / "a.dat"), half}, {later, half}});
    ASSERT_TRUE(shortage.has_value());
    EXPECT_EQ(shortage->Needed, std::numeric_limits<uint64_t>::max());  // summed, not wrapped
    EXPECT_GT(shortage->Available, 0u);

    std::ofstream(dir / "written.dat") << "data";
    EXPECT_TRUE(SyncFileSystemsOf({Utf8(dir / "written.dat")}));
    EXPECT_TRUE(SyncDirectory(Utf8(dir)));
    EXPECT_FALSE(SyncFileSystemsOf({Utf8(dir / "missing" / "x.dat")}));
}

}  // namespace
}  // namespace toval::test
