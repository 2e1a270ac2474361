// The real toval-updater against nginx where the order of finishing matters: two entries for
// one file, and a run ended by a signal while later files still download.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "platform/crypto.h"
#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// With a hash, as toval-catalog writes catalogues: only a hash lets a partial be continued.
std::string Sha256Hex(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes);
    const std::optional<Sha256Digest> digest = hash.Final();
    return digest ? ToHex(digest->data(), digest->size()) : std::string();
}

struct Listed {
    std::string Name;
    std::string Path;  // on the server
    std::string Body;
};

class PipelineE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"home", "tmp", "client", "web", "work"})
            fs::create_directories(Root / d);
        Updater = InstallUpdater(Root / "client");
    }

    // Serves `files` and a catalogue listing them in order, at `bytesPerSecond` a connection.
    void Serve(const std::vector<Listed>& files, uint64_t bytesPerSecond) {
        std::string xml = "<?xml version=\"1.0\"?><xmlRoot><Product>";
        for (const Listed& f : files) {
            Root.Write("web" + f.Path, f.Body);
            xml += "<File><FileName>" + f.Name + "</FileName><Length>" +
                   std::to_string(f.Body.size()) + "</Length><Sha256>" + Sha256Hex(f.Body) +
                   "</Sha256><URL>http://127.0.0.1:PORT" + f.Path + "</URL></File>";
        }
        xml += "</Product></xmlRoot>";
        Web = std::make_unique<Nginx>(Root / "web", bytesPerSecond);
        ASSERT_TRUE(Web->Running()) << Web->Failure();
        const std::string port = std::to_string(Web->Port());
        for (size_t at; (at = xml.find("PORT")) != std::string::npos;) xml.replace(at, 4, port);
        Root.Write("web/update.xml", xml);
    }

    std::unique_ptr<ChildProcess> Start() {
        return std::make_unique<ChildProcess>(
            Updater, std::vector<std::string>{"--console", Web->Url("/update.xml") + ",0"},
            UpdaterEnvironment(Root.Path()), Root / "work");
    }

    // How many answers for `path` nginx has finished.
    TempDir Root;
    std::string Updater;
    std::unique_ptr<Nginx> Web;
};

std::string Pattern(char seed, size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(seed + i % 23);
    return s;
}

TEST_F(PipelineE2E, TwoEntriesForOneFileLeaveTheSecondWhole) {
    TOVAL_LINUX_UPDATER_ONLY("nginx serves the Linux tests only");
    // Side by side, these two downloads took ~0.6 s each: long enough to mix their blocks.
    const Listed one{"dup.dat", "/one.dat", Pattern('a', 600000)};
    const Listed two{"dup.dat", "/two.dat", Pattern('A', 600000)};
    Serve({one, two}, 1 << 20);
    const ProcessResult r = Start()->Wait();
    EXPECT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    const std::vector<std::string> lines = Lines(r.Out);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "下载文件成功 [dup.dat]"), 2) << r.Out;
    EXPECT_TRUE(ReadFile(Root / "client/dup.dat") == two.Body);
    EXPECT_FALSE(fs::exists(Root / "client/dup.dat.update"));
}

TEST_F(PipelineE2E, ASignalInstallsTheFinishedFrontAndKeepsAFinishedFileBehindASlowOne) {
    TOVAL_LINUX_UPDATER_ONLY("POSIX signals");
    const Listed a{"a.dat", "/a.dat", Pattern('a', 64 << 10)};
    const Listed b{"b.dat", "/b.dat", Pattern('b', 16 << 20)};  // a minute at this rate
    const Listed c{"c.dat", "/c.dat", Pattern('c', 64 << 10)};
    Serve({a, b, c}, 256 << 10);
    auto updater = Start();
    ASSERT_TRUE(WaitFor([&] { return Web->Served("/a.dat") == 1 && Web->Served("/c.dat") == 1; }));
    ASSERT_EQ(::kill(updater->Pid(), SIGTERM), 0);
    const ProcessResult r = updater->Wait(10s);
    EXPECT_EQ(r.ExitStatus, 128 + SIGTERM) << r.Err;
    EXPECT_TRUE(ReadFile(Root / "client/a.dat") == a.Body);
    EXPECT_FALSE(fs::exists(Root / "client/b.dat"));
    EXPECT_FALSE(fs::exists(Root / "client/c.dat"));
    // Complete, and kept for the next run rather than fetched again from nothing: that run
    // has it confirmed with a request for its last byte.
    EXPECT_TRUE(ReadFile(Root / "client/c.dat.update") == c.Body);
    const uint64_t sentBefore = Web->BytesSent("/c.dat");
    auto next = Start();
    ASSERT_TRUE(WaitFor([&] { return Web->Served("/c.dat") == 2; }));
    ::kill(next->Pid(), SIGTERM);
    next->Wait(10s);
    EXPECT_THAT(Web->Requests(), ::testing::Contains("/c.dat 206"));
    EXPECT_LT(Web->BytesSent("/c.dat") - sentBefore, 4096u);
    EXPECT_TRUE(ReadFile(Root / "client/c.dat.update") == c.Body);
}

}  // namespace
}  // namespace toval::test
