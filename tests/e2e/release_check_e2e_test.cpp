// toval-catalog --check against a real release on nginx and its mirror: a clean release passes,
// and each publishing mistake planted in it is named in the report with exit status 1.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

class ReleaseCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"server/c", "mirror", "old", "work"})
            fs::create_directories(Root / d);
        ASSERT_TRUE(Web.Running() && Mirror.Running());
        ASSERT_EQ(Tool({"--keygen", Root / "work/k"}).ExitStatus, 0);
    }

    ProcessResult Tool(const std::vector<std::string>& args) {
        return RunProcess(std::string(TOVAL_BIN_DIR) + "/toval-catalog", args,
                          {{"PATH", "/usr/bin:/bin"}}, Root / "work");
    }

    // A signed release with a patch from the old version, copied whole to the mirror.
    void Publish(const std::vector<std::string>& extra = {}) {
        const std::string pack(64 * 1024, 'p');
        Root.Write("old/pack.dat", pack);
        Root.Write("server/c/pack.dat", pack.substr(0, 1000) + "changed" + pack.substr(1007));
        Root.Write("server/c/a.dat", "aaaa");
        std::vector<std::string> args{
            "--sign",     Root / "work/k.key",
            "--previous", Root / "old",
            "--mirror",   "http://127.0.0.1:" + std::to_string(Mirror.Port()),
            "-o",         Root / "server/update.xml"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {Root / "server/c", Web.Url("c")});
        const ProcessResult r = Tool(args);
        ASSERT_EQ(r.ExitStatus, 0) << r.Err;
        fs::remove_all(Root / "mirror");
        fs::copy(Root / "server", Root / "mirror", fs::copy_options::recursive);
    }

    ProcessResult Check(bool full = false) {
        std::vector<std::string> args{"--check", Web.Url("update.xml"), "--key",
                                      Root / "work/k.pub"};
        if (full) args.push_back("--full");
        return Tool(args);
    }

    // Changes the length each published patch's zstd frame declares, keeping its own length: a
    // patch that makes some other version of the file.
    void MisdeclarePatches() {
        for (const char* side : {"server/patches", "mirror/patches"}) {
            for (const auto& patch : fs::recursive_directory_iterator(Root / side)) {
                if (!patch.is_regular_file()) continue;
                std::string bytes = test::ReadFile(patch.path().string());
                const auto header = static_cast<unsigned char>(bytes.at(4));
                const size_t dictionaryBytes[] = {0, 1, 2, 4};
                const size_t at = 5 + ((header & 0x20) ? 0 : 1) + dictionaryBytes[header & 3];
                ++bytes.at(at);
                Root.Write(fs::relative(patch.path(), Root.Path()).string(), bytes);
            }
        }
    }

    TempDir Root;
    Nginx Web{Root / "server", 0, true};
    Nginx Mirror{Root / "mirror"};
};

TEST_F(ReleaseCheck, ACleanReleasePassesAndEachMistakeIsNamed) {
    Publish();
    ProcessResult r = Check();
    EXPECT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    EXPECT_EQ(r.Out.find("PROBLEM"), std::string::npos) << r.Out;
    r = Check(true);
    EXPECT_EQ(r.ExitStatus, 0) << r.Out << r.Err;

    struct Mistake {
        const char* Name;
        std::function<void()> Plant;
        std::string Said;
        bool Full = false;
    };
    const Mistake mistakes[] = {
        {"a file missing on the mirror", [&] { fs::remove(Root / "mirror/c/a.dat"); },
         "a.dat at http://127.0.0.1:" + std::to_string(Mirror.Port())},
        {"a file of the wrong length", [&] { Root.Write("server/c/a.dat", "aaaaaaaa"); },
         "but the catalogue says 4"},
        {"a patch not uploaded", [&] { fs::remove_all(Root / "server/patches"); },
         "patch of pack.dat"},
        {"a signature about to expire",
         [&] {
             Publish({"--expires-days", "3"});
         },
         "sign it again before then"},
        {"a compressed copy of an earlier catalogue",
         [&] {
             const std::string old = test::ReadFile(Root / "server/update.xml.gz");
             Root.Write("server/c/a.dat", "cccc");
             Publish();
             Root.Write("server/update.xml.gz", old);
         },
         "is another catalogue"},
        {"a stale signature",
         [&] {
             const std::string old = test::ReadFile(Root / "server/update.xml.minisig");
             Root.Write("server/c/a.dat", "bbbb");
             Publish();
             Root.Write("server/update.xml.minisig", old);
         },
         "a stale one?"},
        {"a patch that makes another version", [&] { MisdeclarePatches(); },
         "does not make a file of the catalogue's", true},
    };
    for (const Mistake& m : mistakes) {
        SCOPED_TRACE(m.Name);
        Publish();
        m.Plant();
        r = Check(m.Full);
        EXPECT_EQ(r.ExitStatus, 1) << r.Out << r.Err;
        EXPECT_NE(r.Out.find(std::string("PROBLEM  ")), std::string::npos) << r.Out;
        EXPECT_NE(r.Out.find(m.Said), std::string::npos) << r.Out;
    }
}

// What a player's updater would trip over in the catalogue itself, read as the updater reads it.
TEST_F(ReleaseCheck, EntriesAPlayerWouldTripOverAreNamed) {
    Root.Write("server/c/a.dat", "aaaa");
    const std::string file = "<File><FileName>%s</FileName><Length>4</Length><URL>" +
                             Web.Url("c/a.dat") + "</URL></File>";
    std::string xml = "<?xml version=\"1.0\"?><xmlRoot>";
    for (const char* name : {"a.dat", "A.DAT", "b.dat.update"})
        xml += std::string(file).replace(file.find("%s"), 2, name);
    Root.Write("server/update.xml", xml + "</xmlRoot>");
    // Published beside it, so players with keys check it: every file needs its Sha256.
    Root.Write("server/update.xml.minisig", "untrusted comment: a signature\n");
    const ProcessResult r = Tool({"--check", Web.Url("update.xml")});
    EXPECT_EQ(r.ExitStatus, 1) << r.Out << r.Err;
    for (const char* said : {"A.DAT: listed more than once", "1 entries are dropped by the updater",
                             "a.dat: no Sha256 in a signed catalogue"})
        EXPECT_NE(r.Out.find(said), std::string::npos) << said << "\n" << r.Out;
}

}  // namespace
}  // namespace toval::test
