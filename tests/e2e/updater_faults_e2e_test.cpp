// The real toval-updater against the scripted test server, where a test needs a server that
// holds back: two updaters on one client directory, and the termination signals.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::ElementsAre;

class UpdaterFaultsE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"home", "tmp", "client", "one", "two"})
            fs::create_directories(Root / d);
        Updater = InstallUpdater(Root / "client");
    }

    // A catalogue of one file served from `path`, `length` bytes long.
    void Catalogue(const std::string& name, uint64_t length, const std::string& path) {
        Server.Route(
            "/update.xml",
            Response{.Body = "<?xml version=\"1.0\"?><xmlRoot><File><FileName>" + name +
                             "</FileName><Length>" + std::to_string(length) + "</Length><URL>" +
                             Server.Url(path) + "</URL></File></xmlRoot>"});
    }

    std::unique_ptr<ChildProcess> Start(const std::string& scratch) {
        return std::make_unique<ChildProcess>(
            Updater, std::vector<std::string>{"--console", Server.Url("/update.xml") + ",0"},
            std::map<std::string, std::string>{{"PATH", "/usr/bin:/bin"},
                                               {"HOME", Root / "home"},
                                               {"TMPDIR", Root / "tmp"},
                                               {"DISPLAY", ""},
                                               {"LANG", "C.UTF-8"}},
            Root / scratch);
    }

    int Requests(const std::string& target) {
        int n = 0;
        for (const Request& r : Server.Requests()) n += r.Target == target;
        return n;
    }

    TempDir Root;
    HttpServer Server;
    std::string Updater;
};

TEST_F(UpdaterFaultsE2E, ASecondUpdaterWaitsForTheFirstInsteadOfCorruptingItsFile) {
    const uint64_t size = 10 << 20;
    Catalogue("big.dat", size, "/big.dat");
    // The first updater is held half way through the file while the second one starts.
    Server.Route("/big.dat", Response{.GeneratedLength = size, .StallAfter = 1 << 20});
    auto first = Start("one");
    ASSERT_TRUE(Server.WaitForRequests(2, 20s));
    auto second = Start("two");
    ASSERT_TRUE(WaitFor([&] {
        return second->OutputSoFar().find("正在等待另一个更新程序结束") != std::string::npos;
    }));
    Server.ReleaseStalls();

    const ProcessResult one = first->Wait();
    EXPECT_EQ(one.ExitStatus, 0) << one.Err;
    EXPECT_EQ(Lines(one.Out).back(), "更新完毕");
    const ProcessResult two = second->Wait();
    EXPECT_EQ(two.ExitStatus, 0) << two.Err;
    EXPECT_THAT(Lines(two.Out),
                ElementsAre("正在等待另一个更新程序结束", "正在连接：Toval更新服务器",
                            "获取更新文件列表成功：Toval更新服务器", "你当前的版本是最新的"));
    EXPECT_EQ(Requests("/big.dat"), 1);
    EXPECT_TRUE(ReadFile(Root / "client/big.dat") == GeneratedBody(size));
}

TEST_F(UpdaterFaultsE2E, TerminationSignalsEndTheRunInOrder) {
    TOVAL_LINUX_UPDATER_ONLY("POSIX signals; Windows programs get console events instead");
    struct Case {
        int Signal;
        bool DuringFile;  // else during the catalogue
    };
    const Case cases[] = {{SIGTERM, false}, {SIGINT, false}, {SIGHUP, true}, {SIGTERM, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Signal) + (c.DuringFile ? " file" : " catalogue"));
        fs::remove(Root / "client/a.dat");
        Catalogue("a.dat", 4096, "/a.dat");
        if (!c.DuringFile) Server.Route("/update.xml", Response{.StallBeforeHeaders = true});
        Server.Route("/a.dat", Response{.GeneratedLength = 4096, .StallAfter = 1024});
        const size_t before = Server.Requests().size();
        auto updater = Start("one");
        ASSERT_TRUE(Server.WaitForRequests(before + (c.DuringFile ? 2 : 1), 20s));
        const auto signalled = std::chrono::steady_clock::now();
        ASSERT_EQ(::kill(updater->Pid(), c.Signal), 0);
        const ProcessResult r = updater->Wait(10s);
        // Within a second on a quiet machine; the margin is for a loaded one.
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, 5s);
        EXPECT_EQ(r.ExitStatus, 128 + c.Signal) << r.Err;
        EXPECT_THAT(r.Out, ::testing::Not(::testing::HasSubstr("更新完毕")));
        EXPECT_TRUE(fs::is_empty(Root / "tmp"));
        EXPECT_FALSE(fs::exists(Root / "client/a.dat"));
    }
}

}  // namespace
}  // namespace toval::test
