// Reading files whole and mapped, the same on Linux and (under Wine) on Windows, where the
// paths cross into UTF-16: names outside ASCII included.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>

#include "platform/file_handle.h"
#include "platform/file_read.h"
#include "platform/mapped_file.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

class FileAccess : public ::testing::Test {
  protected:
    // The path of a new file `name` (UTF-8) holding `content`, as the program spells paths.
    std::string Write(const std::string& name, const std::string& content) {
        const fs::path path = Dir / FromUtf8(name);
        std::ofstream(path, std::ios::binary) << content;
        return Utf8(path);
    }
    const TempDir Temp;
    const fs::path Dir = FromUtf8(Temp.Path());
};

TEST_F(FileAccess, ReadsWholeFilesWithinTheirCapAndNothingElse) {
    const std::string content(70000, 'x');
    const std::string path = Write("更新文件列表.xml", content);
    EXPECT_EQ(ReadSmallFile(path, 70000), content);
    EXPECT_EQ(ReadSmallFile(path, 69999), std::nullopt);
    EXPECT_EQ(ReadSmallFile(Write("empty", ""), 0), "");
    EXPECT_EQ(ReadSmallFile(path + ".missing", 1 << 20), std::nullopt);
    EXPECT_EQ(ReadSmallFile(Utf8(Dir), 1 << 20), std::nullopt);
#ifndef _WIN32
    // A FIFO planted where a key or a catalogue is read is refused, not waited on for ever.
    ASSERT_EQ(::mkfifo((Dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(ReadSmallFile(Utf8(Dir / "fifo"), 1 << 20), std::nullopt);
#endif
}

TEST_F(FileAccess, MapsWholeFilesAndSaysWhenItCannot) {
    const std::string content = "the old version of a data pack";
    MappedFile mapped(Write("资料包.pak", content));
    ASSERT_TRUE(mapped.Ok());
    EXPECT_EQ(mapped.Bytes(), content);
    MappedFile moved = std::move(mapped);  // the mapping goes with its owner
    EXPECT_EQ(moved.Bytes(), content);
    EXPECT_FALSE(mapped.Ok());

    const MappedFile empty(Write("empty", ""));
    EXPECT_TRUE(empty.Ok());
    EXPECT_TRUE(empty.Bytes().empty());
    EXPECT_FALSE(MappedFile(Write("gone", "x") + ".missing").Ok());
    EXPECT_FALSE(MappedFile(Utf8(Dir)).Ok());
}

TEST_F(FileAccess, OpensWritesAndReplacesFilesByTheirUtf8Names) {
    const std::string path = Utf8(Dir / FromUtf8("更新.bin"));
    FileHandle file = FileHandle::Open(path, OpenFor::CreateNew);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_FALSE(FileHandle::Open(path, OpenFor::CreateNew).IsOpen()) << "it exists now";
    ASSERT_TRUE(file.WriteAll("0123456789", 10));
    char piece[4] = {};
    EXPECT_EQ(file.ReadAt(piece, 4, 6), 4);
    EXPECT_EQ(std::string(piece, 4), "6789");
    ASSERT_TRUE(file.Resize(4));
    ASSERT_TRUE(file.WriteAll("xy", 2));
    ASSERT_TRUE(file.Reserve(8));
    EXPECT_EQ(file.RegularSize(), 8u);
    EXPECT_TRUE(file.Sync());
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(ReadSmallFile(path, 100), std::string("0123xy\0\0", 8));

    const std::string target = Write("游戏.exe", "old");
    EXPECT_EQ(ExaminePath(target).Kind, PathKind::Regular);
    ASSERT_TRUE(RenameOver(path, target));
    EXPECT_EQ(ExaminePath(path).Kind, PathKind::Missing);
    EXPECT_EQ(ExaminePath(target).Size, 8u);
    EXPECT_EQ(ExaminePath(Utf8(Dir)).Kind, PathKind::Directory);
    EXPECT_TRUE(RemoveFile(target));
    EXPECT_TRUE(RemoveFile(target)) << "a file already gone is removed";
    EXPECT_FALSE(FileHandle::Open(target, OpenFor::Read).IsOpen());
    EXPECT_FALSE(FileHandle::Open(Utf8(Dir), OpenFor::Read).IsOpen()) << "not a file";
}

}  // namespace
}  // namespace toval::test
