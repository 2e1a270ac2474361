// What the updater keeps between runs, attacked through the real toval-updater in a client served
// by nginx with catalogues signed by toval-catalog: a catalogue cannot write the state directory,
// a client that lost its keys file does not fall back to obeying anyone, and an unsigned
// catalogue's mirrors are not remembered for another day.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kKeysLost = "更新文件列表的签名公钥文件 toval-updater.pub 丢失";

std::string Origin(const Nginx& web) { return "http://127.0.0.1:" + std::to_string(web.Port()); }

class StateTrust : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"client", "server/c", "mirror", "keys", "work"})
            fs::create_directories(Root / d);
        Web = std::make_unique<Nginx>(Root / "server");
        ASSERT_TRUE(Web->Running()) << Web->Failure();
        Updater = InstallUpdater(Root / "client");
        InstallLobby(Root / "client");
        Run(std::string(TOVAL_BIN_DIR) + "/toval-catalog", {"--keygen", Root / "keys/main"});
    }

    void Run(const std::string& program, const std::vector<std::string>& args) {
        const ProcessResult r =
            RunProcess(program, args, {{"PATH", "/usr/bin:/bin"}}, Root / "work");
        ASSERT_EQ(r.ExitStatus, 0) << r.Err;
    }

    void Trust(bool trusted) {
        if (trusted) {
            Root.Write("client/toval-updater.pub", ReadFile(Root / "keys/main.pub"));
        } else {
            fs::remove(Root / "client/toval-updater.pub");
        }
    }

    // Publishes `files` and their catalogue into `dir`, signed with `serial` (unsigned at 0).
    void Publish(const std::map<std::string, std::string>& files, uint64_t serial,
                 const std::vector<std::string>& extra = {}, const std::string& dir = "server") {
        fs::remove_all(Root / (dir + "/c"));
        fs::remove(Root / (dir + "/update.xml.minisig"));
        for (const auto& [name, content] : files) Root.Write(dir + "/c/" + name, content);
        std::vector<std::string> args = extra;
        if (serial != 0)
            args.insert(args.end(),
                        {"--sign", Root / "keys/main.key", "--serial", std::to_string(serial)});
        args.insert(args.end(),
                    {"-o", Root / (dir + "/update.xml"), Root / (dir + "/c"), Web->Url("c")});
        Run(std::string(TOVAL_BIN_DIR) + "/toval-catalog", args);
        // Validators count whole seconds: each catalogue gets a time of its own.
        fs::last_write_time(Root / (dir + "/update.xml"),
                            fs::file_time_type::clock::now() + std::chrono::seconds(++Published));
    }

    ProcessResult Update(const std::string& tmpdir = "") {
        Before = Web ? Web->Requests().size() : 0;
        return RunProcess(Updater, {"--console", Url + ",0"},
                          {{"PATH", (Root / "work") + ":/usr/bin:/bin"},
                           {"HOME", Root / "work"},
                           {"TMPDIR", tmpdir.empty() ? Root / "work" : tmpdir},
                           {"DISPLAY", ""}},
                          Root / "work");
    }

    std::vector<std::string> RequestsOfLastUpdate() const {
        const std::vector<std::string> all = Web->Requests();
        return {all.begin() + static_cast<long>(Before), all.end()};
    }

    std::string State(const std::string& name) {
        return ReadFile(Root / ("client/.toval-updater/" + name));
    }

    TempDir Root;
    std::unique_ptr<Nginx> Web;
    std::string Updater;
    std::string Url = "";
    size_t Before = 0;
    int Published = 0;
};

TEST_F(StateTrust, ASignedCatalogueCannotLowerTheSerialFloor) {
    Url = Web->Url("update.xml");
    Trust(true);
    // The floor file a client has after accepting serial 99: what the attacker will deliver.
    Publish({{"a.dat", "v99"}}, 99);
    ASSERT_EQ(Update().ExitStatus, 0);
    const std::string lowFloor = State("serials");
    fs::remove_all(Root / "client/.toval-updater");
    Publish({{"a.dat", "v300"}}, 300);
    ASSERT_EQ(Update().ExitStatus, 0);

    // A validly signed catalogue (a publisher who scanned a client that had run the updater,
    // or a stolen key) lists the floor file with serial 99 in it.
    Publish({{"a.dat", "v301"}, {"serials", lowFloor}}, 301);
    const std::string signature = ReadFile(Root / "server/update.xml.minisig");
    const size_t comment = signature.find("\ntrusted comment: ");
    ASSERT_NE(comment, std::string::npos);
    const size_t from = comment + 18;
    const std::string trusted = signature.substr(from, signature.find('\n', from) - from);
    std::string xml = ReadFile(Root / "server/update.xml");
    const size_t at = xml.find("<FileName>serials</FileName>");
    ASSERT_NE(at, std::string::npos);
    xml.replace(at, 28, "<FileName>.toval-updater\\serials</FileName>");
    Root.Write("server/update.xml", xml);
    // Signed again as it now stands, by the minisign program, with the same trusted comment.
    Run("/usr/bin/minisign",
        {"-S", "-s", Root / "keys/main.key", "-m", Root / "server/update.xml", "-t", trusted});
    ProcessResult r = Update();
    ASSERT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadFile(Root / "client/a.dat"), "v301");
    EXPECT_NE(State("serials"), lowFloor);
    EXPECT_THAT(RequestsOfLastUpdate(), Not(::testing::Contains(HasSubstr("/c/serials"))));

    // The replay the lowered floor would have let through is refused.
    Publish({{"a.dat", "v99"}}, 99);
    r = Update();
    EXPECT_EQ(r.ExitStatus, 1);
    EXPECT_THAT(r.Out + r.Err, HasSubstr("更新文件列表比已使用过的旧"));
    EXPECT_EQ(ReadFile(Root / "client/a.dat"), "v301");
}

TEST_F(StateTrust, AClientThatLostItsKeysRefusesUnsignedCataloguesUntilItsStateIsDeleted) {
    Url = Web->Url("update.xml");
    Trust(true);
    Publish({{"a.dat", "signed"}}, 100);
    ASSERT_EQ(Update().ExitStatus, 0);

    Trust(false);
    Publish({{"a.dat", "anyone's"}}, 0);
    ProcessResult r = Update();
    EXPECT_EQ(r.ExitStatus, 1);
    EXPECT_THAT(r.Out, HasSubstr(kKeysLost));                              // the status line
    EXPECT_THAT(r.Err, HasSubstr(std::string("系统提示: ") + kKeysLost));  // the box
    EXPECT_THAT(r.Out + r.Err, HasSubstr("删除 .toval-updater 目录"));
    EXPECT_EQ(ReadFile(Root / "client/a.dat"), "signed");
    EXPECT_TRUE(RequestsOfLastUpdate().empty());

    // Deleting the whole state directory is the player's way back to unsigned updates.
    fs::remove_all(Root / "client/.toval-updater");
    r = Update();
    EXPECT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadFile(Root / "client/a.dat"), "anyone's");
}

TEST_F(StateTrust, NoTemporaryFileIsReportedAsSuchNotAsAMissingSignature) {
    TOVAL_LINUX_UPDATER_ONLY("the temporary directory is TMPDIR");
    Url = Web->Url("update.xml");
    Trust(true);
    Publish({{"a.dat", "signed"}}, 100);
    Root.Write("work/not-a-directory", "");
    const ProcessResult r = Update(Root / "work/not-a-directory");
    EXPECT_EQ(r.ExitStatus, 1);
    EXPECT_THAT(r.Out + r.Err, HasSubstr("创建本地文件失败"));
    EXPECT_THAT(r.Out + r.Err, Not(HasSubstr("无法取得更新文件列表的签名")));
}

TEST_F(StateTrust, AnUnsignedCataloguesMirrorIsNotAskedOnALaterDay) {
    // (A signed catalogue's mirrors do serve the catalogue then: see the mirror end-to-end test.)
    Url = Web->Url("update.xml");
    Nginx mirror(Root / "mirror");
    ASSERT_TRUE(mirror.Running()) << mirror.Failure();
    const std::vector<std::string> mirrored = {"--mirror", Origin(mirror)};
    Publish({{"a.dat", "one"}}, 0, mirrored);
    ASSERT_EQ(Update().ExitStatus, 0);

    // The next day the server is down, and the mirror the catalogue named offers one of its own.
    Publish({{"a.dat", "two"}}, 0, mirrored, "mirror");
    Web.reset();
    const ProcessResult r = Update();
    EXPECT_EQ(r.ExitStatus, 1);
    EXPECT_EQ(ReadFile(Root / "client/a.dat"), "one");
    EXPECT_THAT(mirror.Requests(), ::testing::IsEmpty());
}

}  // namespace
}  // namespace toval::test
