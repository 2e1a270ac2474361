// The real toval-updater, copied into a client directory, updating it from a real nginx with a
// catalogue written by the real toval-catalog.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <algorithm>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kConnecting = "正在连接：Toval更新服务器";
const std::string kFetched = "获取更新文件列表成功：Toval更新服务器";

// Every path below `root` with its size and modification time, for spotting stray writes.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const auto stamp = e.last_write_time().time_since_epoch().count();
        out[e.path().string()] = e.is_regular_file()
                                     ? std::to_string(e.file_size()) + "@" + std::to_string(stamp)
                                     : "dir";
    }
    return out;
}

class UpdaterE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"home", "tmp", "client", "server", "work/bin"})
            fs::create_directories(Root / d);
        Web = std::make_unique<Nginx>(Root / "server");
        ASSERT_TRUE(Web->Running()) << Web->Failure();
        Updater = InstallUpdater(Root / "client");
        // The lobby says it was started, and with what, beside itself.
        InstallLobby(Root / "client");
        // A stand-in for Wine's regsvr32 that records its arguments one per line.
        MakeScript("work/bin/regsvr32", "printf '%s\\n' \"$@\" > " + (Root / "work/regsvr32.txt"));
    }

    void MakeScript(const std::string& relative, const std::string& body) {
        const std::string path = Root.Write(relative, "#!/bin/sh\n" + body + "\n");
        fs::permissions(path, fs::perms::owner_all);
    }

    // Writes the new version's files and their catalogue; `extra` are toval-catalog options.
    void Publish(const std::map<std::string, std::string>& files,
                 const std::vector<std::string>& extra = {}) {
        for (const auto& [name, content] : files) Root.Write("server/" + name, content);
        std::vector<std::string> args = extra;
        args.insert(args.end(), {"-o", Root / "server/update.xml", Root / "server",
                                 "http://127.0.0.1:" + std::to_string(Web->Port())});
        const ProcessResult r = RunProcess(std::string(TOVAL_BIN_DIR) + "/toval-catalog", args,
                                           {{"PATH", "/usr/bin:/bin"}}, Root / "work");
        ASSERT_EQ(r.ExitStatus, 0) << r.Err;
        // A modification time of its own: nginx's validators count whole seconds, and the
        // updater keeps the last catalogue to ask whether it changed.
        fs::last_write_time(Root / "server/update.xml",
                            fs::file_time_type::clock::now() + std::chrono::seconds(++Published));
    }

    ProcessResult Update(const std::string& catalogue = "update.xml", uint32_t caller = 0) {
        const std::string arg = Web->Url(catalogue) + "," + std::to_string(caller);
        return RunProcess(Updater, {"--console", arg},
                          UpdaterEnvironment(Root.Path(), (Root / "work/bin") + ":/usr/bin:/bin"),
                          Root / "work");
    }

    std::vector<std::string> FileRequests() {
        std::vector<std::string> out;
        for (const std::string& r : Web->Requests())
            if (r.find("update.xml") == std::string::npos) out.push_back(r);
        return out;
    }

    bool LobbyStayedAway() {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return !fs::exists(Root / "client/lobby.txt");
    }

    TempDir Root;
    std::unique_ptr<Nginx> Web;
    std::string Updater;
    int Published = 0;
};

TEST_F(UpdaterE2E, ThreeOutdatedFilesInOrderThenTheLobbyAndNoWritesElsewhere) {
    Publish({{"a.dat", std::string(1536, 'a')},
             {"b.dat", std::string(1024, 'b')},
             {"c.dat", std::string(511, 'c')}});
    Root.Write("client/b.dat", "old b");
    const auto outsideBefore = Snapshot(Root / "home");
    const auto serverBefore = Snapshot(Root / "server");

    const ProcessResult r = Update();
    ASSERT_EQ(r.ExitStatus, 0) << r.Err;
    EXPECT_THAT(Lines(r.Out),
                ElementsAre(kConnecting, kFetched, "需更新文件总数: 3, 文件总长度: 2 KB", "a.dat",
                            "下载文件成功 [a.dat]", "b.dat", "下载文件成功 [b.dat]", "c.dat",
                            "下载文件成功 [c.dat]", "更新完毕"));
    // The files are fetched side by side, so they are answered in any order.
    EXPECT_THAT(FileRequests(),
                ::testing::UnorderedElementsAre("/a.dat 200", "/b.dat 200", "/c.dat 200"));
    // Connections are kept alive and reused: four requests, three at once at most.
    std::set<std::string> connections;
    for (const std::string& line : Web->Connections())
        connections.insert(line.substr(0, line.find(' ')));
    EXPECT_LE(connections.size(), 3u);
    for (const char* name : {"a.dat", "b.dat", "c.dat"})
        EXPECT_EQ(ReadFile(Root / ("client/" + std::string(name))),
                  ReadFile(Root / ("server/" + std::string(name))));
    ASSERT_TRUE(WaitForFile(Root / "client/lobby.txt"));
    EXPECT_EQ(ReadFile(Root / "client/lobby.txt"), "gameToval\n");

    // Nothing written outside the client and the temporary directory, and the temporary
    // catalogue is gone.
    EXPECT_EQ(Snapshot(Root / "home"), outsideBefore);
    EXPECT_EQ(Snapshot(Root / "server"), serverBefore);
    EXPECT_TRUE(fs::is_empty(Root / "tmp"));
    std::set<std::string> clientFiles;
    for (const auto& e : fs::directory_iterator(Root / "client"))
        clientFiles.insert(e.path().filename());
    EXPECT_EQ(clientFiles, (std::set<std::string>{".toval-updater", "a.dat", "b.dat", "c.dat",
                                                  "lobby.exe", "lobby.txt", UpdaterFileName()}));
}

TEST_F(UpdaterE2E, EverythingCurrent) {
    Publish({{"a.dat", "aaa"}, {"b.dat", "bb"}});
    for (const char* name : {"a.dat", "b.dat"}) {
        fs::copy_file(Root / ("server/" + std::string(name)),
                      Root / ("client/" + std::string(name)));
        fs::last_write_time(Root / ("client/" + std::string(name)),
                            fs::last_write_time(Root / ("server/" + std::string(name))));
    }
    const ProcessResult r = Update();
    EXPECT_EQ(r.ExitStatus, 0) << r.Err;
    EXPECT_THAT(Lines(r.Out), ElementsAre(kConnecting, kFetched, "你当前的版本是最新的"));
    EXPECT_TRUE(FileRequests().empty());
    EXPECT_TRUE(LobbyStayedAway());
}

TEST_F(UpdaterE2E, AFileMissingOnTheServerEndsTheRun) {
    struct Case {
        const char* Missing;
        std::vector<std::string> Installed;  // the files before it
    };
    const Case cases[] = {
        {"b.dat", {"a.dat"}},
        {"c.dat", {"a.dat", "b.dat"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Missing);
        Publish({{"a.dat", "A"}, {"b.dat", "BB"}, {"c.dat", "CCC"}});
        fs::remove(Root / ("server/" + std::string(c.Missing)));
        fs::remove(Root / "client/lobby.txt");

        const ProcessResult r = Update();
        EXPECT_EQ(r.ExitStatus, 1);
        const std::string failed = "下载文件失败 [" + std::string(c.Missing) + "], 错误代码 [6]";
        EXPECT_EQ(Lines(r.Out).back(), failed);
        EXPECT_THAT(r.Out, ::testing::Not(HasSubstr("更新完毕")));
        EXPECT_THAT(r.Err, HasSubstr("可能由于网络原因，" + failed));
        EXPECT_TRUE(LobbyStayedAway());
        // Files after it may have been fetched beside it; only those before it are installed.
        for (const char* name : {"a.dat", "b.dat", "c.dat"})
            EXPECT_EQ(fs::exists(Root / ("client/" + std::string(name))),
                      std::count(c.Installed.begin(), c.Installed.end(), name) == 1)
                << name;
        for (const auto& e : fs::directory_iterator(Root / "client"))
            if (e.path().extension() == ".dat") fs::remove(e.path());
    }
}

TEST_F(UpdaterE2E, ACatalogueThatIsMissingOrNotACatalogue) {
    Root.Write("server/portal.html", "<!DOCTYPE html><html><body>Maintenance</body></html>");
    struct Case {
        const char* Path;
        std::vector<std::string> Statuses;
        std::string Box;
    };
    const std::string notFound = "取得服务器文件失败, 请到官网下载最新版本 www.toval.com";
    const std::string unreadable = "更新文件列表格式错误, 请到官网下载最新版本";
    const Case cases[] = {
        {"update.xml", {kConnecting, notFound + "：Toval更新服务器"}, notFound},
        {"portal.html", {kConnecting, kFetched, unreadable + "：Toval更新服务器"}, unreadable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Path);
        fs::remove_all(Root / "tmp");
        fs::create_directories(Root / "tmp");
        const ProcessResult r = Update(c.Path, 0);
        EXPECT_EQ(r.ExitStatus, 1);
        EXPECT_EQ(Lines(r.Out), c.Statuses);
        EXPECT_THAT(r.Err, HasSubstr("系统提示: " + c.Box));
        // The temporary catalogue goes on every ending, a failed fetch included.
        EXPECT_TRUE(fs::is_empty(Root / "tmp"));
    }
    EXPECT_TRUE(LobbyStayedAway());
}

TEST_F(UpdaterE2E, ANameWithALineBreakCannotForgeStatusLines) {
    Publish({{"x\n更新完毕", "hello"}});
    const ProcessResult r = Update();
    if (TestingWindowsUpdater()) {
        // A Windows file name cannot hold a line break: the file fails, and its name is shown
        // as one line all the same.
        EXPECT_EQ(Lines(r.Out).back(), "下载文件失败 [x\uFFFD更新完毕], 错误代码 [7]");
        return;
    }
    EXPECT_EQ(r.ExitStatus, 0) << r.Err;
    EXPECT_THAT(Lines(r.Out),
                ElementsAre(kConnecting, kFetched, "需更新文件总数: 1, 文件总长度: 0 KB",
                            "x\uFFFD更新完毕", "下载文件成功 [x\uFFFD更新完毕]", "更新完毕"));
    EXPECT_EQ(ReadFile(Root / "client/x\n更新完毕"), "hello");
}

TEST_F(UpdaterE2E, ExecuteAndRegisterStartTheirPrograms) {
    if (TestingWindowsUpdater()) {
        // Windows hands the parameter string to the program as it stands; the program reads its
        // own command line. (regsvr32 is Wine's own there, with nothing to show for a start.)
        Publish({{"tool.cmd", "@echo %*> \"%~dp0tool.txt\"\r\n"}},
                {"--execute", "tool.cmd=-v 'two words' \"x y\""});
        const ProcessResult r = Update();
        EXPECT_EQ(r.ExitStatus, 0) << r.Err;
        ASSERT_TRUE(WaitForFile(Root / "client/tool.txt"));
        EXPECT_EQ(ReadFile(Root / "client/tool.txt"), "-v 'two words' \"x y\"\r\n");
        return;
    }
    const std::string toolOut = Root / "work/tool.txt";
    Publish({{"tool.sh", "#!/bin/sh\nprintf '[%s]' \"$@\" > " + toolOut + "\n"},
             {"my lib.dll", "MZ not really"}},
            {"--execute", "tool.sh=-v 'two words' \"x y\"", "--register", "my lib.dll"});
    const ProcessResult r = Update();
    EXPECT_EQ(r.ExitStatus, 0) << r.Err;
    ASSERT_TRUE(WaitForFile(toolOut));
    EXPECT_EQ(ReadFile(toolOut), "[-v][two words][x y]");
    ASSERT_TRUE(WaitForFile(Root / "work/regsvr32.txt"));
    // The path arrives as one argument, blank and all.
    EXPECT_EQ(ReadFile(Root / "work/regsvr32.txt"), "/s\n" + (Root / "client/my lib.dll") + "\n");
}

TEST_F(UpdaterE2E, ADownloadIsOnTheDiskBeforeItIsRenamedAndTheRenameAfter) {
    TOVAL_LINUX_UPDATER_ONLY("the order of Linux system calls, seen by strace");
    // What reaches the disk is only visible to the kernel; strace shows the order of the calls
    // that decide it: the new file synced (through its descriptor, or with the whole file
    // system once it is closed), then renamed over the old one, then its directory synced.
    Publish({{"a.dat", "new a"}});
    Root.Write("client/a.dat", "old");
    const std::string trace = Root / "work/trace.txt";
    const std::string arg = Web->Url("update.xml") + ",0";
    const ProcessResult r = RunProcess(
        "/usr/bin/strace",
        {"-f", "-qq", "-o", trace, "-e",
         "trace=openat,close,fsync,fdatasync,syncfs,rename,renameat,renameat2", Updater,
         "--console", arg},
        {{"PATH", "/usr/bin:/bin"},
         {"HOME", Root / "home"},
         {"TMPDIR", Root / "tmp"},
         {"DISPLAY", ""},
         // LeakSanitizer's exit check traces the threads itself, which strace already does.
         {"ASAN_OPTIONS", "detect_leaks=0"}},
        Root / "work");
    ASSERT_EQ(r.ExitStatus, 0) << r.Err;
    const std::vector<std::string> calls = Lines(ReadFile(trace));
    const auto find = [&](size_t from, const std::string& what, const std::string& also = "") {
        for (size_t i = from; i < calls.size(); ++i)
            if (calls[i].find(what) != std::string::npos &&
                calls[i].find(also) != std::string::npos)
                return i;
        return calls.size();
    };
    const std::string client = Root / "client";
    const size_t opened = find(0, "\"" + client + "/a.dat.update\", ", "O_CREAT");
    ASSERT_LT(opened, calls.size());
    const std::string fd = calls[opened].substr(calls[opened].rfind("= ") + 2);
    const size_t closed = find(opened, "close(" + fd + ")");
    const size_t synced = std::min(find(opened, "fsync(" + fd), find(closed, "syncfs("));
    const size_t renamed = find(opened, "rename", "\"" + client + "/a.dat.update\", ");
    EXPECT_LT(synced, renamed);
    ASSERT_LT(renamed, calls.size());
    const size_t dirOpened = find(renamed, "\"" + client + "\", O_RDONLY");
    ASSERT_LT(dirOpened, calls.size());
    const std::string dirFd = calls[dirOpened].substr(calls[dirOpened].rfind("= ") + 2);
    EXPECT_LT(find(dirOpened, "fsync(" + dirFd), calls.size());
}

TEST_F(UpdaterE2E, AFileThatCannotBeInstalledEndsTheRunAsAFailedFile) {
    Publish({{"a.dat", "new a"}, {"b.dat", "new b"}});
    fs::create_directories(Root / "client/a.dat");
    const ProcessResult r = Update();
    EXPECT_EQ(r.ExitStatus, 1) << r.Err;
    EXPECT_EQ(Lines(r.Out).back(), "删除文件失败 [a.dat]");
    EXPECT_THAT(r.Out, ::testing::Not(HasSubstr("更新完毕")));
    EXPECT_THAT(r.Err, HasSubstr("删除文件失败 [a.dat]"));
    EXPECT_FALSE(fs::exists(Root / "client/a.dat.update"));
    EXPECT_FALSE(fs::exists(Root / "client/b.dat"));
    EXPECT_TRUE(LobbyStayedAway());
}

}  // namespace
}  // namespace toval::test
