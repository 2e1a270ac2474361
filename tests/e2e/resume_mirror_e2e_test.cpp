// The real toval-updater against real nginx servers when downloads break: a run killed half way
// through a large file is continued by the next, and a mirror takes over from a server that
// lacks a file or is down altogether, for the files and for the catalogue itself.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Origin(const Nginx& web) { return "http://127.0.0.1:" + std::to_string(web.Port()); }

class ResumeMirrorE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"home", "tmp", "client", "primary", "mirror", "work", "one"})
            fs::create_directories(Root / d);
        Updater = InstallUpdater(Root / "client");
    }

    // A new key pair in work/, its public key trusted by the client.
    void TrustNewKey() {
        const ProcessResult keys =
            RunProcess(std::string(TOVAL_BIN_DIR) + "/toval-catalog", {"--keygen", Root / "work/k"},
                       {{"PATH", "/usr/bin:/bin"}}, Root / "work");
        ASSERT_EQ(keys.ExitStatus, 0) << keys.Err;
        Root.Write("client/toval-updater.pub", ReadFile(Root / "work/k.pub"));
    }
    // toval-catalog's options for a catalogue naming `mirror`, signed by that key with `serial`.
    std::vector<std::string> SignedWithMirror(const Nginx& mirror, int serial) {
        return {"--mirror",          Origin(mirror), "--sign",
                Root / "work/k.key", "--serial",     std::to_string(serial)};
    }

    // Writes the files into `dir` and their catalogue, with `options` for toval-catalog.
    void Publish(const std::string& dir, const std::map<std::string, std::string>& files,
                 const std::string& base, const std::vector<std::string>& options = {}) {
        for (const auto& [name, content] : files) Root.Write(dir + "/files/" + name, content);
        std::vector<std::string> args = options;
        args.insert(args.end(),
                    {"-o", Root / (dir + "/update.xml"), Root / (dir + "/files"), base + "/files"});
        const ProcessResult r = RunProcess(std::string(TOVAL_BIN_DIR) + "/toval-catalog", args,
                                           {{"PATH", "/usr/bin:/bin"}}, Root / "work");
        ASSERT_EQ(r.ExitStatus, 0) << r.Err;
        // Validators count whole seconds: each catalogue gets a time of its own.
        fs::last_write_time(Root / (dir + "/update.xml"),
                            fs::file_time_type::clock::now() + std::chrono::seconds(++Published));
    }

    std::map<std::string, std::string> Environment() { return UpdaterEnvironment(Root.Path()); }
    std::vector<std::string> Arguments(const std::string& catalogueUrl) {
        return {"--console", catalogueUrl + ",0"};
    }
    ProcessResult Update(const std::string& catalogueUrl) {
        return RunProcess(Updater, Arguments(catalogueUrl), Environment(), Root / "work");
    }

    TempDir Root;
    std::string Updater;
    int Published = 0;
};

TEST_F(ResumeMirrorE2E, ARunKilledHalfWayIsContinuedWhereItStopped) {
    const uint64_t size = 24 << 20;
    const std::string body = GeneratedBody(size);
    // Slow enough that the kill lands half way through the file.
    Nginx web(Root / "primary", 8 << 20);
    ASSERT_TRUE(web.Running()) << web.Failure();
    Publish("primary", {{"big.bin", body}}, Origin(web));
    const std::string url = web.Url("update.xml");
    const std::string partial = Root / "client/big.bin.update";
    {
        ChildProcess first(Updater, Arguments(url), Environment(), Root / "one");
        ASSERT_TRUE(WaitFor([&] {
            std::error_code ec;
            return fs::file_size(partial, ec) >= (8u << 20) && !ec;
        }));
        ASSERT_EQ(::kill(first.Pid(), SIGKILL), 0);
        first.Wait();
    }
    std::error_code ec;
    const uint64_t kept = fs::file_size(partial, ec);
    ASSERT_FALSE(ec) << ec.message();
    const ProcessResult r = Update(url);
    ASSERT_EQ(r.ExitStatus, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out).back(), "更新完毕");
    EXPECT_TRUE(ReadFile(Root / "client/big.bin") == body);  // checked against its SHA-256 too
    EXPECT_THAT(web.Requests(), ::testing::Contains("/files/big.bin 206"));
    // The second run fetched only what the first had not written (and the response's header).
    // Only its answer is counted: nginx's rate limit sends a second's worth at a time, so what
    // the killed run was sent beyond what it wrote depends on the moment of the kill, and under
    // Wine, whose server holds the socket too, nginx may log that request only much later.
    const uint64_t sent = web.BytesSent("/files/big.bin", 206);
    EXPECT_GE(sent, size - kept);
    EXPECT_LT(sent, size - kept + (16u << 10));
    EXPECT_FALSE(fs::exists(Root / "client/big.bin.update-resume"));
}

TEST_F(ResumeMirrorE2E, AMirrorTakesOverForAMissingFileAndThenForADeadServer) {
    auto primary = std::make_unique<Nginx>(Root / "primary");
    Nginx mirror(Root / "mirror");
    ASSERT_TRUE(primary->Running() && mirror.Running());
    // Only a signed catalogue's mirrors are remembered for the catalogue itself.
    ASSERT_NO_FATAL_FAILURE(TrustNewKey());
    const auto mirrored = [&](int serial) { return SignedWithMirror(mirror, serial); };
    const std::string url = primary->Url("update.xml");

    // The primary lacks one file of the first version.
    Publish("mirror", {{"a.dat", "a1"}, {"b.dat", "b1"}}, Origin(*primary), mirrored(1));
    Publish("primary", {{"a.dat", "a1"}, {"b.dat", "b1"}}, Origin(*primary), mirrored(1));
    fs::remove(Root / "primary/files/b.dat");
    ProcessResult r = Update(url);
    ASSERT_EQ(r.ExitStatus, 0) << r.Err;
    EXPECT_THAT(Lines(r.Out), ::testing::ElementsAre("正在连接：Toval更新服务器",
                                                     "获取更新文件列表成功：Toval更新服务器",
                                                     "需更新文件总数: 2, 文件总长度: 0 KB", "a.dat",
                                                     "下载文件成功 [a.dat]", "b.dat",
                                                     "下载文件成功 [b.dat]", "更新完毕"));
    EXPECT_EQ(ReadFile(Root / "client/b.dat"), "b1");
    EXPECT_THAT(mirror.Requests(), ::testing::ElementsAre("/files/b.dat 200"));

    // The second version is out, and the primary is gone: the catalogue comes from the mirror
    // the last accepted catalogue named, and so do the files.
    Publish("mirror", {{"a.dat", "a2"}}, Origin(*primary), mirrored(2));
    primary.reset();
    r = Update(url);
    ASSERT_EQ(r.ExitStatus, 0) << r.Err;
    EXPECT_EQ(Lines(r.Out).back(), "更新完毕");
    EXPECT_EQ(ReadFile(Root / "client/a.dat"), "a2");
    EXPECT_THAT(mirror.Requests(), ::testing::Contains("/update.xml 200"));
    EXPECT_THAT(mirror.Requests(), ::testing::Contains("/files/a.dat 200"));
}

// A signature belongs to the catalogue beside it: a server that lacks its signature is not
// helped by a mirror's, which signs another catalogue, and the player is told the signature is
// missing rather than invalid.
TEST_F(ResumeMirrorE2E, ASignatureIsNeverPairedWithAnotherServersCatalogue) {
    Nginx primary(Root / "primary");
    Nginx mirror(Root / "mirror");
    ASSERT_TRUE(primary.Running() && mirror.Running());
    ASSERT_NO_FATAL_FAILURE(TrustNewKey());
    const auto signedBy = [&](int serial) { return SignedWithMirror(mirror, serial); };
    Publish("mirror", {{"a.dat", "a1"}}, Origin(primary), signedBy(1));
    Publish("primary", {{"a.dat", "a1"}}, Origin(primary), signedBy(1));
    ASSERT_EQ(Update(primary.Url("update.xml")).ExitStatus, 0);

    // The second version went up without its signature; the mirror still has the first.
    Publish("primary", {{"a.dat", "a2"}}, Origin(primary), signedBy(2));
    fs::remove(Root / "primary/update.xml.minisig");
    const ProcessResult r = Update(primary.Url("update.xml"));
    EXPECT_EQ(r.ExitStatus, 1);
    EXPECT_NE(r.Err.find("无法取得更新文件列表的签名"), std::string::npos) << r.Err;
    EXPECT_EQ(ReadFile(Root / "client/a.dat"), "a1");
    EXPECT_THAT(mirror.Requests(), ::testing::IsEmpty());
    // The run's log names the cause in the publisher's terms.
    std::string logs;
    for (const auto& e : fs::directory_iterator(Root / "client/.toval-updater/log"))
        logs += ReadFile(e.path().string());
    EXPECT_NE(logs.find("catalogue refused: no signature (URL.minisig)"), std::string::npos)
        << logs;
}

}  // namespace
}  // namespace toval::test
