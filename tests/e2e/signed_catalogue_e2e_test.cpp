// The attacks an updater must withstand, each played against the real toval-updater in a client
// directory served by a real nginx, with catalogues signed by toval-catalog. Every scenario ends by
// looking at what the player's client has become: every file byte for byte, nothing run, no
// lobby, and no file fetched once the catalogue was refused.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "tests/e2e/SignedRelease.h"
#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class SignedCatalogue : public SignedRelease {};

constexpr const char* kRefusedSignature = "更新文件列表的签名无效, 请到官网下载最新版本";

TEST_F(SignedCatalogue, Attacks) {
    // The player's client before each scenario: the old release.
    // A program the catalogue runs after installing it, which says so in ran.txt beside itself:
    // a shell script for Linux, a command script for Windows (what cmd.exe writes ends in CR LF).
    const bool windows = TestingWindowsUpdater();
    const std::string run = windows ? "run.cmd" : "run.sh";
    const auto script = [&](const std::string& word) {
        return windows ? "@echo " + word + "> \"%~dp0" + word + ".txt\"\r\n"
                       : "#!/bin/sh\necho " + word + " > \"$(dirname \"$0\")/" + word + ".txt\"\n";
    };
    const std::string ran = windows ? "ran\r\n" : "ran\n";
    const std::map<std::string, std::string> oldRelease = {
        {"a.dat", "old a"}, {run, windows ? "@rem\r\n" : "#!/bin/sh\n"}};
    const std::map<std::string, std::string> newRelease = {{"a.dat", "new a!"},
                                                           {run, script("ran")}};
    const std::vector<std::string> runIt = {"--execute", run};
    // The published catalogue signed anew with the main key and `trusted`, by the minisign
    // program, which signs whatever it is told.
    const auto signByMinisign = [&](const std::string& trusted) {
        const ProcessResult r = RunProcess(
            "/usr/bin/minisign",
            {"-S", "-s", Root / "keys/main.key", "-m", Root / "server/update.xml", "-t", trusted},
            {{"PATH", "/usr/bin:/bin"}}, Root / "work");
        ASSERT_EQ(r.ExitStatus, 0) << r.Err;
    };
    struct Scenario {
        std::string Name;
        std::function<void()> Attack;  // publishes (and may run the updater) as the attack needs
        int Exit;
        std::string Said;  // in the output (standard output and error)
        int Updated;       // how many files, in catalogue order, are the new release's
        bool Fetched;      // files were fetched
    };
    const std::vector<Scenario> scenarios = {
        {"unsigned mode unchanged", [&] { Trust({}), Publish(newRelease, "", 0, runIt); }, 0,
         "更新完毕", 2, true},
        {"signed and sound", [&] { Publish(newRelease, "main", 100, runIt); }, 0, "更新完毕", 2,
         true},
        {"tampered file (arbitrary installation)",
         [&] {
             Publish(newRelease, "main", 100, runIt);
             // Same length, other bytes.
             std::string evil = script("evil");
             evil.resize(newRelease.at(run).size(), ' ');
             Root.Write("server/c/" + run, evil);
         },
         1, "错误代码 [11]", 1, true},
        {"tampered catalogue",
         [&] {
             Publish(newRelease, "main", 100, runIt);
             std::string xml = ReadFile(Root / "server/update.xml");
             xml.replace(xml.find("<Execute>YES"), 12, "<Execute>NO ");
             Root.Write("server/update.xml", xml);
         },
         1, kRefusedSignature, 0, false},
        {"missing signature",
         [&] {
             Publish(newRelease, "main", 100, runIt);
             fs::remove(Root / "server/update.xml.minisig");
         },
         1, "无法取得更新文件列表的签名", 0, false},
        {"signature by an untrusted key", [&] { Publish(newRelease, "other", 100, runIt); }, 1,
         kRefusedSignature, 0, false},
        {"unsigned catalogue to a signing client", [&] { Publish(newRelease, "", 0, runIt); }, 1,
         "无法取得更新文件列表的签名", 0, false},
        {"replayed older catalogue (rollback)",
         [&] {
             Publish(oldRelease, "main", 200);
             ASSERT_EQ(Update().ExitStatus, 0);  // serial 200 accepted: the floor
             ASSERT_TRUE(WaitForFile(Root / "client/lobby.txt"));
             fs::remove(Root / "client/lobby.txt");
             Publish(newRelease, "main", 150, runIt);
         },
         1, "更新文件列表比已使用过的旧", 0, false},
        {"expired catalogue (freeze)",
         [&] {
             // toval-catalog refuses to sign one; minisign signs whatever it is told.
             Publish(newRelease, "main", 100, runIt);
             signByMinisign("serial:100 expires:1000000000");
         },
         1, "更新文件列表已过期", 0, false},
        {"a body longer than its Length (endless data)",
         [&] {
             Publish(newRelease, "main", 100, runIt);
             Root.Write("server/c/a.dat", std::string(1 << 20, 'x'));
         },
         1, "错误代码 [10]", 0, true},
        {"a file of an older release under a newer catalogue (mix-and-match)",
         [&] {
             Publish(newRelease, "main", 100, runIt);
             Root.Write("server/c/a.dat", "old a!");  // the older release's bytes, same length
         },
         1, "错误代码 [11]", 0, true},
        {"a catalogue listing a file without its hash",
         [&] {
             Publish(newRelease, "main", 100, runIt);
             std::string xml = ReadFile(Root / "server/update.xml");
             const size_t at = xml.find("\t\t\t<Sha256>");
             xml.erase(at, xml.find('\n', at) + 1 - at);
             Root.Write("server/update.xml", xml);
             // Signed as it now stands, with the same key, by the minisign program.
             signByMinisign("serial:100 expires:4102444800");
         },
         1, "更新文件列表缺少文件校验值", 0, false},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.Name);
        for (const auto& e : fs::directory_iterator(Root / "client")) {
            const std::string name = e.path().filename();
            if (name != UpdaterFileName() && name != "lobby.exe") fs::remove_all(e.path());
        }
        for (const auto& [name, content] : oldRelease) Root.Write("client/" + name, content);
        fs::permissions(Root / ("client/" + run), fs::perms::owner_all);
        Trust({"main"});
        s.Attack();
        if (HasFatalFailure()) return;
        const ProcessResult r = Update();
        EXPECT_EQ(r.ExitStatus, s.Exit) << r.Out << r.Err;
        EXPECT_THAT(r.Out + r.Err, HasSubstr(s.Said));
        std::map<std::string, std::string> expected = oldRelease;
        for (auto it = newRelease.begin(); it != newRelease.end(); ++it)
            if (std::distance(newRelease.begin(), it) < s.Updated) expected[it->first] = it->second;
        expected["lobby.exe"] = ReadFile(Root / "client/lobby.exe");
        if (fs::exists(Root / "client/toval-updater.pub"))
            expected["toval-updater.pub"] = ReadFile(Root / "client/toval-updater.pub");
        if (s.Updated == static_cast<int>(newRelease.size())) {
            // The started programs write their lines in more than one piece (Windows' echo
            // writes the line end apart): wait for the whole line, not for the file.
            ASSERT_TRUE(WaitFor([&] { return ReadFile(Root / "client/ran.txt") == ran; }));
            ASSERT_TRUE(
                WaitFor([&] { return ReadFile(Root / "client/lobby.txt") == "gameToval\n"; }));
            expected["ran.txt"] = ran;
            expected["lobby.txt"] = "gameToval\n";
        }
        // Nothing ran, nothing half-done stays behind; the lobby stayed away.
        EXPECT_EQ(ClientContents(Root / "client"), expected) << r.Out << r.Err;
        EXPECT_EQ(!FilesFetched().empty(), s.Fetched);
    }
}

TEST_F(SignedCatalogue, AKeyRotatedByASignedCatalogueTakesOverAndAFastForwardIsLeftBehind) {
    // A stolen "main" key pushed its floor to the far future; the publisher answers with a
    // catalogue that delivers a keys file trusting "next" alone.
    Trust({"main"});
    const std::string nextKeys = ReadFile(Root / "keys/next.pub");
    Publish({{"a.dat", "one"}, {"toval-updater.pub", nextKeys}}, "main", uint64_t{1} << 62);
    ProcessResult r = Update();
    ASSERT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadFile(Root / "client/toval-updater.pub"), nextKeys);

    // The new key starts with no floor: an ordinary serial is accepted.
    Publish({{"a.dat", "two"}, {"toval-updater.pub", nextKeys}}, "next", 7);
    r = Update();
    EXPECT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadFile(Root / "client/a.dat"), "two");

    // The old key is trusted no more, whatever its serial.
    Publish({{"a.dat", "evil"}, {"toval-updater.pub", nextKeys}}, "main", (uint64_t{1} << 62) + 1);
    r = Update();
    EXPECT_EQ(r.ExitStatus, 1);
    EXPECT_THAT(r.Out + r.Err, HasSubstr(kRefusedSignature));
    EXPECT_EQ(ReadFile(Root / "client/a.dat"), "two");
    EXPECT_TRUE(FilesFetched().empty());
}

TEST_F(SignedCatalogue, AnUnchangedCatalogueIsAnsweredNotModifiedAndCheckedAgain) {
    Trust({"main"});
    Publish({{"a.dat", "one"}}, "main");
    ASSERT_EQ(Update().ExitStatus, 0);
    const std::vector<std::string> current = {"正在连接：Toval更新服务器",
                                              "获取更新文件列表成功：Toval更新服务器",
                                              "你当前的版本是最新的"};
    const auto since = [&] {
        const std::vector<std::string> all = Web->Requests();
        return std::vector<std::string>(all.begin() + static_cast<long>(Before), all.end());
    };

    // Nothing new: the signature is fetched again, the catalogue answered 304, and the kept copy
    // checked against that signature.
    ProcessResult r = Update();
    EXPECT_EQ(r.ExitStatus, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out), current);
    EXPECT_EQ(since(), (std::vector<std::string>{"/update.xml.minisig 200", "/update.xml 304"}));

    // A kept copy that no longer matches the signature is dropped and the whole catalogue
    // fetched in the same run.
    std::string kept = ReadFile(Root / "client/.toval-updater/catalogue.xml");
    kept.replace(kept.find("a.dat"), 5, "b.dat");
    Root.Write("client/.toval-updater/catalogue.xml", kept);
    r = Update();
    EXPECT_EQ(r.ExitStatus, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out), current);
    EXPECT_EQ(since(), (std::vector<std::string>{"/update.xml.minisig 200", "/update.xml 304",
                                                 "/update.xml 200"}));
    EXPECT_FALSE(fs::exists(Root / "client/b.dat"));
}

TEST_F(SignedCatalogue, CataloguesSignedByTheMinisignProgramAreAccepted) {
    if (!fs::exists("/usr/bin/minisign")) GTEST_SKIP() << "minisign is not installed";
    // A key made by minisign itself, unencrypted, trusted by the client.
    const ProcessResult made = RunProcess(
        "/usr/bin/minisign", {"-G", "-W", "-p", Root / "keys/ms.pub", "-s", Root / "keys/ms.key"},
        {{"PATH", "/usr/bin:/bin"}}, Root / "work");
    ASSERT_EQ(made.ExitStatus, 0) << made.Err;
    Trust({"ms"});
    Publish({{"a.dat", "by minisign"}}, "");
    const ProcessResult signedIt =
        RunProcess("/usr/bin/minisign",
                   {"-S", "-s", Root / "keys/ms.key", "-m", Root / "server/update.xml", "-t",
                    "serial:9 expires:4102444800"},
                   {{"PATH", "/usr/bin:/bin"}}, Root / "work");
    ASSERT_EQ(signedIt.ExitStatus, 0) << signedIt.Err;
    const ProcessResult r = Update();
    EXPECT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadFile(Root / "client/a.dat"), "by minisign");
}

}  // namespace
}  // namespace toval::test
