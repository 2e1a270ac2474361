#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "catalog/CFileEntry.h"
#include "catalog/entry_probe.h"
#include "catalog/file_probe.h"
#include "catalog/outdated_check.h"
#include "tests/catalog/catalog_test_util.h"
#include "tests/support/PeBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace toval {
namespace {

using test::PeOptions;

constexpr uint64_t kTime = 133000000001234567ull;  // a FILETIME in 2022, not on a second

void SetMtime(const std::string& path, uint64_t fileTime) {
    ASSERT_TRUE(test::SetLastWriteTime(path, fileTime)) << path;
}

std::string PeWithVersion(const test::TempDir& dir, std::array<uint16_t, 4> version) {
    PeOptions o;
    o.FileVersion = version;
    const std::string path = dir / "f.dll";
    EXPECT_TRUE(test::WritePeFile(path, o));
    SetMtime(path, kTime);
    return path;
}

std::string Plain(const test::TempDir& dir, std::size_t length) {
    const std::string path = dir.Write("f.dat", std::string(length, 'x'));
    SetMtime(path, kTime);
    return path;
}

uint64_t Length(const std::string& path) { return std::filesystem::file_size(path); }

// The decision a whole check takes, from one look at the file: it must agree with the one taken
// on the file's own handle.
bool OutdatedInACheck(const CFileEntry& entry) {
    ClientFiles files;
    std::vector<uint8_t> buffer;
    return ListedFileOutdated(entry, files, nullptr, buffer);
}

TEST(CheckNeedsUpdate, DecidesFromVersionTimeAndLength) {
    struct Case {
        const char* name;
        std::function<std::string(const test::TempDir&)> make;  // the local file
        const char* version;                                    // catalogue FileVersion
        int64_t
            timeDelta;  // catalogue FileDate - local time, in ticks (or absolute when zero time)
        int64_t lengthDelta;  // catalogue Length - local length
        bool needs;
    };
    auto pe = [](std::array<uint16_t, 4> v) {
        return [v](const test::TempDir& d) { return PeWithVersion(d, v); };
    };
    auto plain = [](const test::TempDir& d) { return Plain(d, 100); };
    const Case cases[] = {
        {"missing", [](const test::TempDir& d) { return d / "none.dll"; }, "1.0.0.0", 0, 0, true},
        {"same version, older time", pe({1, 0, 0, 0}), "1.0.0.0", 1000, 0, false},
        {"same version, longer", pe({1, 0, 0, 0}), "1.0.0.0", 0, -1, true},
        {"same version, shorter", pe({1, 0, 0, 0}), "1.0.0.0", 0, 1, true},
        {"local 1.0.0.10, catalogue 1.0.0.9", pe({1, 0, 0, 10}), "1.0.0.9", 0, 0, false},
        {"local 1.0.0.9, catalogue 1.0.0.10", pe({1, 0, 0, 9}), "1.0.0.10", 0, 0, true},
        {"local 10.0.0.0, catalogue 2.0.0.0", pe({10, 0, 0, 0}), "2.0.0.0", 0, 0, false},
        {"catalogue version in upper case", pe({1, 0, 0, 0}), "1.0.0.0", 0, 0, false},
        {"newer local version, older time", pe({2, 0, 0, 0}), "1.0.0.0", 99999, 0, false},
        {"no version resource, catalogue gives one", plain, "1.0.0.0", 0, 0, true},
        {"broken version resource",
         [](const test::TempDir& d) {
             PeOptions o;
             o.Defect = test::PeDefect::BadSignature;
             test::WritePeFile(d / "f.dll", o);
             return d / "f.dll";
         },
         "1.0.0.0", 0, 0, true},
        {"no catalogue version, same time", plain, "", 0, 0, false},
        {"no catalogue version, local one tick earlier", plain, "", 1, 0, true},
        {"no catalogue version, local one tick later", plain, "", -1, 0, false},
        {"no catalogue version, later, other length", plain, "", -1, 1, true},
        {"a PE without catalogue version goes by time", pe({9, 0, 0, 0}), "", 1, 0, true},
        // A zero catalogue time: no local time is earlier, only the length decides.
        {"zero catalogue time, same length", plain, "", -int64_t(kTime), 0, false},
        {"zero catalogue time, other length", plain, "", -int64_t(kTime), 1, true},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const std::string path = c.make(dir);
        CFileEntry entry(path);
        entry.FileVersion = c.version;
        entry.FileDate = FileTimeFromU64(kTime + c.timeDelta);
        const bool exists = std::filesystem::exists(path);
        entry.Length = (exists ? Length(path) : 0) + c.lengthDelta;
        EXPECT_EQ(OutdatedInACheck(entry), c.needs) << c.name;
        EXPECT_EQ(CheckNeedsUpdate(entry), c.needs) << c.name;
        EXPECT_EQ(entry.NeedsUpdate, c.needs) << c.name;
    }
}

// Lengths are 64-bit: a file of 4 GiB + 1 is not one of 1 byte.
TEST(CheckNeedsUpdate, ComparesLengthsInSixtyFourBits) {
    test::TempDir dir;
    const std::string path = dir.Write("big.pak", "");
    std::filesystem::resize_file(test::FromUtf8(path), (uint64_t{1} << 32) + 1);  // sparse
    SetMtime(path, kTime);
    for (uint64_t length : {uint64_t{1}, (uint64_t{1} << 32) + 1}) {
        CFileEntry entry(path);
        entry.FileDate = FileTimeFromU64(kTime);
        entry.Length = length;
        EXPECT_EQ(CheckNeedsUpdate(entry), length == 1) << length;
    }
}

// What "cannot be opened for reading" means here: no file, or something at the path that is not
// a regular file. All count as out of date, and none may block.
TEST(CheckNeedsUpdate, ThingsThatAreNotFilesNeedAnUpdate) {
    test::TempDir dir;
    const std::string file = Plain(dir, 3);
    std::filesystem::create_directory(test::FromUtf8(dir / "folder"));
    struct Case {
        std::string path;
        bool exists;
    };
    std::vector<Case> cases = {{dir / "folder", false},
                               {dir / "folder/", false},
                               {file + "/x", false},
                               {std::string(5000, 'a'), false}};
#ifdef _WIN32
    // A device answers to its name in any directory.
    cases.push_back({"NUL", false});
    cases.push_back({dir / "NUL", false});
#else
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
    std::filesystem::create_symlink(dir / "loop", dir / "loop");
    std::filesystem::create_symlink(file, dir / "link");
    cases.insert(cases.end(), {{dir / "fifo", false},
                               {dir / "dangling", false},
                               {dir / "loop", false},
                               {"/dev/null", false},
                               {dir / "link", true}});
#endif
    for (const Case& c : cases) {
        EXPECT_EQ(FileExists(c.path), c.exists) << c.path;
        CFileEntry entry(c.path);
        entry.FileDate = FileTimeFromU64(kTime);
        entry.Length = 3;
        EXPECT_EQ(OutdatedInACheck(entry), !c.exists) << c.path;
        EXPECT_EQ(CheckNeedsUpdate(entry), !c.exists) << c.path;
        CFileEntry probe(c.path);
        EXPECT_EQ(Probe(probe), c.exists) << c.path;
        FILETIME ft;
        EXPECT_EQ(ReadFileDate(c.path, ft) == 0, c.exists) << c.path;
    }
}

// As root every mode-000 file opens; the case is real only for an ordinary user, so the check
// runs in a child that has given up root.
TEST(CheckNeedsUpdate, UnreadableFileForAnOrdinaryUser) {
#ifdef _WIN32
    GTEST_SKIP() << "permission bits and a child that gives up root are Linux's";
#else
    test::TempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const std::string path = Plain(dir, 3);
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    if (geteuid() != 0) {
        EXPECT_FALSE(FileExists(path));
        return;
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        CFileEntry entry(path);
        entry.FileDate = FileTimeFromU64(kTime);
        entry.Length = 3;
        CFileEntry probe(path);
        _exit(!FileExists(path) && OutdatedInACheck(entry) && CheckNeedsUpdate(entry) &&
                      !Probe(probe)
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

TEST(CheckNeedsUpdate, NeverLowersTheVerdictAndIgnoresAnEmptyPath) {
    test::TempDir dir;
    const std::string path = Plain(dir, 3);
    CFileEntry current(path);
    current.Length = 3;
    current.NeedsUpdate = true;
    EXPECT_TRUE(CheckNeedsUpdate(current));
    CFileEntry unplaced;
    EXPECT_FALSE(CheckNeedsUpdate(unplaced));
    EXPECT_FALSE(Probe(unplaced));
}

TEST(Probe, FillsTheEntryFromTheDisk) {
    test::TempDir dir;
    PeOptions o;
    o.Pe64 = true;
    o.FileVersion = {1, 0, 0, 12};
    o.ProductVersion = {3, 65535, 0, 1};
    o.TrailingBytes = 77;
    const std::string path = dir / "game.exe";
    ASSERT_TRUE(test::WritePeFile(path, o));
    SetMtime(path, kTime);

    CFileEntry entry(path);
    ASSERT_TRUE(Probe(entry));
    EXPECT_EQ(entry.FileName, "game.exe");
    EXPECT_EQ(entry.Length, Length(path));
    EXPECT_EQ(entry.FileVersion, "1.0.0.12");
    EXPECT_EQ(entry.ProductVersion, "3.65535.0.1");
    EXPECT_EQ(entry.FixedFileInfo.dwFileVersionLS, 12u);
    EXPECT_EQ(FileTimeToU64(entry.FileDate), kTime);

    // A file without a version still probes, through its time.
    CFileEntry plain(Plain(dir, 5));
    ASSERT_TRUE(Probe(plain));
    EXPECT_EQ(plain.FileVersion, "");
    EXPECT_EQ(plain.Length, 5u);
    EXPECT_EQ(FileTimeToU64(plain.FileDate), kTime);
}

TEST(Probe, ReadVersionFormatsTheStructureItFills) {
    test::TempDir dir;
    PeOptions o;
    o.FileVersion = {4, 3, 2, 1};
    ASSERT_TRUE(test::WritePeFile(dir / "a.dll", o));
    CFileEntry entry;
    VS_FIXEDFILEINFO other;
    ASSERT_EQ(ReadVersion(entry, dir / "a.dll", other), 0);
    EXPECT_EQ(entry.FileVersion, "4.3.2.1");
    EXPECT_EQ(entry.ProductVersion, "1.0.0.0");
    EXPECT_LT(ReadVersion(entry, dir / "missing.dll", other), 0);
    EXPECT_EQ(entry.FileVersion, "4.3.2.1");
}

}  // namespace
}  // namespace toval
