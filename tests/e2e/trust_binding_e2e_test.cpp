// What a signed catalogue is for, and the one serial floor a client keeps, played against the
// real toval-updater with catalogues signed by toval-catalog and served by nginx: the publisher
// signs every product and channel with one key, and rotates keys with two trusted at once.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "tests/e2e/SignedRelease.h"
#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr const char* kRefusedSignature = "更新文件列表的签名无效, 请到官网下载最新版本";
constexpr const char* kRolledBack = "更新文件列表比已使用过的旧, 请到官网下载最新版本";
constexpr const char* kStateNotKept = "无法保存更新文件列表的版本记录, 请检查程序目录的写入权限";

class TrustBinding : public SignedRelease {
  protected:
    void SetUp() override {
        SignedRelease::SetUp();
        Trust({"main"});
    }

    // A release whose run.sh (run.cmd) the catalogue runs after installing it; it leaves
    // `word`.txt beside itself.
    std::map<std::string, std::string> Release(const std::string& word) {
        const bool windows = TestingWindowsUpdater();
        return {{"a.dat", word},
                {Run(), windows ? "@echo " + word + "> \"%~dp0" + word + ".txt\"\r\n"
                                : "#!/bin/sh\necho " + word + " > \"$(dirname \"$0\")/" + word +
                                      ".txt\"\n"}};
    }
    static std::string Run() { return TestingWindowsUpdater() ? "run.cmd" : "run.sh"; }

    // Publishes `files` at the one URL this client asks, signed by `key` with `serial`, its
    // script to be run.
    void Publish(const std::map<std::string, std::string>& files, const std::string& key,
                 uint64_t serial, std::vector<std::string> extra = {}) {
        extra.insert(extra.end(), {"--execute", Run()});
        SignedRelease::Publish(files, key, serial, extra);
    }

    // Accepts `files` as the client's current release: installed, run, the lobby started.
    void Accept(const std::map<std::string, std::string>& files, const std::string& key,
                uint64_t serial, const std::vector<std::string>& extra = {}) {
        Publish(files, key, serial, extra);
        const ProcessResult r = Update();
        ASSERT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
        EXPECT_EQ(ReadFile(Root / "client/a.dat"), files.at("a.dat"));
        ASSERT_TRUE(WaitForFile(Root / "client/lobby.txt"));
        ASSERT_TRUE(WaitForFile(Root / ("client/" + files.at("a.dat") + ".txt")));
        fs::remove(Root / "client/lobby.txt");
    }

    // Serves `files` signed by `key` with `serial` and expects the updater to refuse it with
    // `said` before fetching a file, the client left byte for byte as it was and nothing run.
    void Refused(const std::map<std::string, std::string>& files, const std::string& key,
                 uint64_t serial, const std::vector<std::string>& extra, const std::string& said) {
        const std::map<std::string, std::string> before = ClientContents(Root / "client");
        Publish(files, key, serial, extra);
        const ProcessResult r = Update();
        EXPECT_EQ(r.ExitStatus, 1) << r.Out << r.Err;
        EXPECT_THAT(r.Out + r.Err, HasSubstr(said));
        const std::vector<std::string> all = Web->Requests();
        for (size_t i = Before; i < all.size(); ++i)
            EXPECT_NE(all[i].rfind("/c/", 0), 0u) << all[i];
        EXPECT_EQ(ClientContents(Root / "client"), before);
    }
};

// Another product's catalogue, or another channel's, signed later by the same key and served at
// this client's address: refused as if unsigned, and the client's own next catalogue, older than
// the refused one, still accepted.
TEST_F(TrustBinding, ACatalogueForAnythingElseIsRefused) {
    struct Case {
        const char* Name;
        std::optional<std::string> PublisherFile;  // toval-updater.for, when shipped
        std::vector<std::string> Own;              // what this client's catalogues are signed for
        std::vector<std::string> Foreign;
    };
    const Case cases[] = {
        {"another product, learnt", {}, {}, {"--product", "Rival"}},
        {"the beta channel, learnt", {}, {}, {"--channel", "beta"}},
        {"the stable channel, learnt", {}, {"--channel", "beta"}, {}},
        {"another product, shipped", "Toval/beta\n", {"--channel", "beta"}, {"--product", "Rival"}},
        {"the stable channel, shipped", "Toval/beta\n", {"--channel", "beta"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(Root / "client/.toval-updater");
        fs::remove(Root / "client/toval-updater.for");
        if (c.PublisherFile) Root.Write("client/toval-updater.for", *c.PublisherFile);
        Accept(Release("one"), "main", 100, c.Own);
        if (HasFatalFailure()) return;
        Refused(Release("evil"), "main", 300, c.Foreign, kRefusedSignature);
        Accept(Release("two"), "main", 200, c.Own);
        if (HasFatalFailure()) return;
        for (const char* f : {"one.txt", "two.txt"})
            fs::remove(Root / ("client/" + std::string(f)));
    }
}

// While a new key is rolled out both are trusted; a replay under either must not undo what the
// other accepted.
TEST_F(TrustBinding, OneFloorAcrossTrustedKeys) {
    Trust({"main", "next"});
    Accept(Release("one"), "next", 200);
    if (HasFatalFailure()) return;
    Refused(Release("old"), "main", 100, {}, kRolledBack);
}

// In signed mode a floor the client cannot keep ends the run; deleting the state directory
// starts a fresh floor.
TEST_F(TrustBinding, AFloorThatCannotBeKeptEndsTheRun) {
    Accept(Release("one"), "main", 100);
    if (HasFatalFailure()) return;
    const fs::path serials = Root / "client/.toval-updater/serials";
    fs::remove(serials);
    fs::create_directory(serials);
    Refused(Release("two"), "main", 200, {}, kStateNotKept);
    if (!TestingWindowsUpdater()) {
        fs::remove(serials);
        fs::create_symlink("nowhere", serials);
        Refused(Release("two"), "main", 200, {}, kStateNotKept);
    }
    fs::remove_all(Root / "client/.toval-updater");
    Accept(Release("two"), "main", 50);
}

}  // namespace
}  // namespace toval::test
