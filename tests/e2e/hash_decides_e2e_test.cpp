// In signed mode a client file is current only when its bytes are the ones the signed catalogue
// pins: the real updater against a real nginx, with catalogues signed by toval-catalog.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

#include "tests/e2e/SignedRelease.h"
#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

class HashDecides : public SignedRelease {};

TEST_F(HashDecides, AFileDamagedAtTheSameLengthAndTimeIsFetchedAgainOnlyWhenSigned) {
    const std::string good = "the bytes the publisher signed", other = "another file";
    const std::string damaged = "the bytes the publisher signeD";
    struct Case {
        const char* name;
        bool signedMode;
        const char* cache;  // written over the hash cache before the second run; null: kept
        bool fetched;
    };
    const Case cases[] = {
        {"signed, the cache of the run before", true, nullptr, true},
        {"signed, a damaged cache", true, "not a cache", true},
        {"unsigned", false, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Root / "client/.toval-updater");
        fs::remove(Root / "client/a.dat");
        if (c.signedMode) {
            Root.Write("client/toval-updater.pub", ReadFile(Root / "keys/main.pub"));
        } else {
            fs::remove(Root / "client/toval-updater.pub");
        }
        Publish({{"a.dat", good}, {"b.dat", other}}, c.signedMode ? "main" : "", 100);
        ProcessResult r = Update();
        ASSERT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
        ASSERT_EQ(ReadFile(Root / "client/a.dat"), good);
        // The installs recorded their files' hashes (a header and a record of 80 bytes each), so
        // the next check need not read them.
        if (c.signedMode) {
            EXPECT_EQ(fs::file_size(Root / "client/.toval-updater/hashes"), 168u);
        }

        // A byte flipped under the file (a disk, a player's editor), its time put back.
        const auto time = fs::last_write_time(Root / "client/a.dat");
        Root.Write("client/a.dat", damaged);
        fs::last_write_time(Root / "client/a.dat", time);
        if (c.cache) Root.Write("client/.toval-updater/hashes", c.cache);
        r = Update();
        EXPECT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
        EXPECT_EQ(ReadFile(Root / "client/a.dat"), c.fetched ? good : damaged);
        EXPECT_EQ(FilesFetched(), c.fetched ? std::vector<std::string>{"/c/a.dat 200"}
                                            : std::vector<std::string>{});
    }
}

// --verify finds what no length, time or cache shows, signed or not, and says what it did.
TEST_F(HashDecides, VerifyRepairsADamagedFileSignedOrNot) {
    const std::string good = "the bytes the publisher signed";
    for (const bool signedMode : {true, false}) {
        SCOPED_TRACE(signedMode ? "signed" : "unsigned");
        fs::remove_all(Root / "client/.toval-updater");
        fs::remove(Root / "client/a.dat");
        if (signedMode) {
            Root.Write("client/toval-updater.pub", ReadFile(Root / "keys/main.pub"));
        } else {
            fs::remove(Root / "client/toval-updater.pub");
        }
        Publish({{"a.dat", good}, {"b.dat", "another file"}}, signedMode ? "main" : "", 100);
        ASSERT_EQ(Update().ExitStatus, 0);
        const auto time = fs::last_write_time(Root / "client/a.dat");
        Root.Write("client/a.dat", "the bytes the publisher signeD");
        fs::last_write_time(Root / "client/a.dat", time);

        ProcessResult r = Update({"--verify"});
        EXPECT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
        EXPECT_EQ(ReadFile(Root / "client/a.dat"), good);
        EXPECT_EQ(FilesFetched(), std::vector<std::string>{"/c/a.dat 200"});
        EXPECT_NE(r.Out.find("已校验文件 2 个, 修复 1 个"), std::string::npos) << r.Out;

        r = Update({"--verify"});
        EXPECT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
        EXPECT_TRUE(FilesFetched().empty());
        EXPECT_NE(r.Out.find("已校验文件 2 个, 修复 0 个"), std::string::npos) << r.Out;
    }
}

TEST_F(HashDecides, ARotatedKeysFileOfTheSameLengthReplacesANewerOne) {
    // The client's keys file is newer than the catalogue's and as long as the new one: only its
    // bytes tell that it is not the publisher's.
    const std::string mainKeys = ReadFile(Root / "keys/main.pub");
    const std::string nextKeys = ReadFile(Root / "keys/next.pub");
    ASSERT_EQ(mainKeys.size(), nextKeys.size());
    Publish({{"a.dat", "one"}, {"toval-updater.pub", nextKeys}}, "main", 100);
    Root.Write("client/toval-updater.pub", mainKeys);
    fs::last_write_time(Root / "client/toval-updater.pub",
                        fs::file_time_type::clock::now() + std::chrono::hours(1));
    ProcessResult r = Update();
    ASSERT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadFile(Root / "client/toval-updater.pub"), nextKeys);

    // Every later catalogue is signed with the new key, and taken.
    Publish({{"a.dat", "two"}, {"toval-updater.pub", nextKeys}}, "next", 101);
    r = Update();
    EXPECT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadFile(Root / "client/a.dat"), "two");
}

}  // namespace
}  // namespace toval::test
