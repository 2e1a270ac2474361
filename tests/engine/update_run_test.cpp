#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/Nginx.h"
#else
#include "tests/support/ChildProgram.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include "catalog/minisign.h"
#include "engine/CUpdateRun.h"
#include "engine/kept_catalogue.h"
#include "engine/status_texts.h"
#include "tests/engine/RecordingPrograms.h"
#include "tests/engine/TestHost.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// The whole run on both systems, with real transfers from the scripted server: names in UTF-8
// (one too long for its ".update" suffix), a directory new to the client (given with Windows
// separators, as catalogues are written), an old file replaced, and the catalogue kept for the
// next run, which asks whether it changed.
TEST(UpdateRunOnTestServer, InstallsUtf8NamesAndReusesTheKeptCatalogue) {
    TempDir client;
    HttpServer server;
    std::string longName;
    for (int i = 0; i < 85; ++i) longName += "龙";  // 255 bytes
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xmlRoot><Product>\n"
        "<File><FileName>" +
        longName +
        "</FileName><Length>7</Length><InstallDir>CURRENTDIR</InstallDir>"
        "<LocalPath>数据\\地图</LocalPath><URL>" +
        server.Url("/files/map.dat") +
        "</URL></File>\n"
        "<File><FileName>a.dat</FileName><Length>5</Length><InstallDir>CURRENTDIR</InstallDir>"
        "<LocalPath></LocalPath><URL>" +
        server.Url("/files/a.dat") + "</URL></File>\n</Product></xmlRoot>\n";
    Response catalogue{200, xml};
    catalogue.Headers = {{"ETag", "\"v1\""}};
    server.Route("/update.xml", catalogue);
    server.Route("/files/map.dat", Response{200, "new map"});
    server.Route("/files/a.dat", Response{200, "new a"});
    client.Write("a.dat", "old");

    const auto run = [&](TestHost& host) {
        CUpdateRun r(host, BaseDirectories{client.Path(), client / "w", client / "s"});
        r.StartRun(server.Url("/update.xml"));
        r.OnTimer(WM_TIMER_PUMP);
        EXPECT_TRUE(host.RunUntilQuit(r));
        return r.RunOutcome();
    };
    TestHost first;
    EXPECT_EQ(run(first), CUpdateRun::Outcome::Finished);
    EXPECT_THAT(Statuses(first.Events), ::testing::Contains("下载文件成功 [" + longName + "]"));
    EXPECT_EQ(ReadFile(client / ("数据/地图/" + longName)), "new map");
    EXPECT_EQ(ReadFile(client / "a.dat"), "new a");
    EXPECT_FALSE(fs::exists(client / "a.dat.update"));

    server.Route("/update.xml", Response{304});
    TestHost second;
    EXPECT_EQ(run(second), CUpdateRun::Outcome::UpToDate);
    const std::vector<Request> requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests.back().Header("If-None-Match"), "\"v1\"");
}

// A catalogue answered by a mirror is kept for its mirrors, but its validators are the
// mirror's: sent to the server next time they could match a different catalogue there. Only a
// signed catalogue's mirrors are remembered.
TEST(UpdateRunOnTestServer, ValidatorsOfAMirrorsAnswerAreNotKeptForTheServer) {
    TempDir client;
    HttpServer server, mirror;
    const std::string mirrorOrigin = mirror.Url("");
    const std::string xml = "<?xml version=\"1.0\"?><xmlRoot><Product><Mirror>" + mirrorOrigin +
                            "</Mirror><File><FileName>a.dat</FileName><Length>5</Length><URL>" +
                            server.Url("/files/a.dat") +
                            "</URL><Sha256>"
                            "fbb6b30b41732026a9073fd355103e207f6b3c7c1adc086724df42e286417adf"
                            "</Sha256></File></Product></xmlRoot>";
    const std::optional<minisign::SecretKey> key = minisign::GenerateSecretKey();
    ASSERT_TRUE(key);
    client.Write("toval-updater.pub", minisign::WritePublicKey({key->Id, key->Public}, "").value());
    const std::string signature =
        minisign::SignFile(*key, xml, "serial:1 expires:4102444800", "").value();
    Response fromServer{200, xml};
    fromServer.Headers = {{"ETag", "\"server\""}};
    server.Route("/update.xml", fromServer);
    server.Route("/update.xml.minisig", Response{200, signature});
    server.Route("/files/a.dat", Response{200, "new a"});
    const auto run = [&] {
        TestHost host;
        CUpdateRun r(host, BaseDirectories{client.Path(), client / "w", client / "s"});
        r.StartRun(server.Url("/update.xml"));
        r.OnTimer(WM_TIMER_PUMP);
        EXPECT_TRUE(host.RunUntilQuit(r));
        return FindKeptCatalogue(StateDirectory(client.Path()), server.Url("/update.xml"));
    };
    std::optional<KeptCatalogue> kept = run();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->ETag, "\"server\"");

    server.Route("/update.xml", Response{503});
    server.Route("/update.xml.minisig", Response{503});
    Response fromMirror{200, xml};
    fromMirror.Headers = {{"ETag", "\"mirror\""}};
    mirror.Route("/update.xml", fromMirror);
    mirror.Route("/update.xml.minisig", Response{200, signature});
    kept = run();
    ASSERT_TRUE(kept);
    EXPECT_EQ(mirror.Requests().size(), 2u);
    EXPECT_EQ(kept->ETag, "");
}

// Only the regular file of the length its checks passed is renamed into place: anything else
// at the download's path keeps the player's copy.
TEST(InstallFile, OnlyTheDownloadThatWasCheckedIsRenamedIntoPlace) {
    struct Case {
        const char* Name;
        std::function<void(TempDir&)> Leave;  // what stands at game.dat.update
    };
    const Case cases[] = {
        {"nothing", [](TempDir&) {}},
        {"another length", [](TempDir& c) { c.Write("game.dat.update", "new but longer"); }},
#ifndef _WIN32
        {"a link to a file of the right length",
         [](TempDir& c) {
             c.Write("elsewhere", "new");
             fs::create_symlink(c / "elsewhere", c / "game.dat.update");
         }},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir client;
        TestHost host;
        CUpdateRun run(host, BaseDirectories{client.Path(), client.Path(), client.Path()});
        client.Write("game.dat", "old");
        c.Leave(client);
        CFileEntry file(client / "game.dat");
        file.FileName = "game.dat";
        file.Length = 3;
        EXPECT_FALSE(run.InstallFile(file));
        EXPECT_EQ(run.Snapshot().StatusText, "重命名文件失败 [game.dat]");
        EXPECT_EQ(ReadFile(client / "game.dat"), "old");  // the old copy is never lost
    }
}

// Played against nginx on Linux (real validators, kept-alive connections). A Windows test
// program cannot start nginx: there the test server answers from the same directory, one
// connection per request, without validators; the lobby is a Windows program.
#ifdef _WIN32
class WebServer {
  public:
    explicit WebServer(const std::string& root) { Server.ServeDirectory(root); }
    bool Running() const { return true; }
    std::string Failure() const { return {}; }
    std::string Url(const std::string& path) const { return Server.Url("/" + path); }
    // As nginx's log has them: "/a.dat 200".
    std::vector<std::string> Requests() const {
        std::vector<std::string> out;
        for (const Request& r : Server.Requests())
            out.push_back(r.Target + " " + std::to_string(r.Status));
        return out;
    }

  private:
    HttpServer Server;
};

void SetEnvironment(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }
// GetTempPathW reads TMP first.
constexpr const char* kTempVariable = "TMP";
#else
using WebServer = Nginx;

void SetEnvironment(const char* name, const std::string& value) {
    if (value.empty()) {
        unsetenv(name);
    } else {
        setenv(name, value.c_str(), 1);
    }
}
constexpr const char* kTempVariable = "TMPDIR";
#endif

struct File {
    File(std::string name, std::string content, bool onServer = true, bool current = false,
         std::string dir = {})
        : Name(std::move(name)),
          Content(std::move(content)),
          OnServer(onServer),
          CurrentLocally(current),
          Dir(std::move(dir)) {}
    std::string Name;
    std::string Content;
    bool OnServer;
    bool CurrentLocally;  // the client already has this content
    std::string Dir;      // sub-directory below the client's directory
};

std::string Catalogue(const std::vector<File>& files, const WebServer& web) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xmlRoot><Product>\n";
    for (const File& f : files) {
        xml += "<File><FileName>" + f.Name +
               "</FileName><FileVersion></FileVersion>"
               "<ProductVersion></ProductVersion><Length>" +
               std::to_string(f.Content.size()) +
               "</Length><FileDateLow>0</FileDateLow><FileDateHigh>0</FileDateHigh>"
               "<InstallDir>CURRENTDIR</InstallDir><LocalPath>" +
               f.Dir + "</LocalPath><URL>" + web.Url("files/" + f.Name) + "</URL></File>\n";
    }
    return xml + "</Product></xmlRoot>\n";
}

int CountTempCatalogues(const std::string& dir) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(FromUtf8(dir)))
        if (Utf8(e.path().filename()).rfind("Xml", 0) == 0) ++n;
    return n;
}

class UpdateRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Web = std::make_unique<WebServer>(Server.Path());
        ASSERT_TRUE(Web->Running()) << Web->Failure();
        fs::create_directories(FromUtf8(Tmp.Path()));
        SavedTmp = std::getenv(kTempVariable) ? std::getenv(kTempVariable) : "";
        SetEnvironment(kTempVariable, Tmp.Path());
        SavedCwd = fs::current_path();
        // The lobby is looked for in the current directory (nothing of the kind stands beside
        // the test program); it writes its arguments to lobby.txt beside itself.
#ifdef _WIN32
        fs::copy_file(FromUtf8(BuiltProgram("toval-record-arguments")),
                      FromUtf8(Work / "lobby.exe"));
#else
        Work.Write("lobby.exe", "#!/bin/sh\necho \"$@\" > " + (Work / "lobby.txt") + "\n");
        fs::permissions(Work / "lobby.exe", fs::perms::owner_all);
#endif
        fs::current_path(FromUtf8(Work.Path()));
    }
    void TearDown() override {
        fs::current_path(SavedCwd);
        SetEnvironment(kTempVariable, SavedTmp);
    }

    void Publish(const std::vector<File>& files) {
        for (const File& f : files) {
            if (f.OnServer) Server.Write("files/" + f.Name, f.Content);
            if (f.CurrentLocally) Client.Write(f.Name, f.Content);
        }
        WriteCatalogue(Catalogue(files, *Web));
    }

    // Each catalogue a test serves gets a modification time of its own: nginx's validators
    // count whole seconds, and a run keeps the last catalogue to ask whether it changed.
    void WriteCatalogue(const std::string& xml) {
        const std::string path = Server.Write("update.xml", xml);
        fs::last_write_time(path,
                            fs::file_time_type::clock::now() + std::chrono::seconds(++Serial));
    }

    std::unique_ptr<CUpdateRun> MakeRun(uint32_t caller = 77) {
        auto run = std::make_unique<CUpdateRun>(
            *Host, BaseDirectories{Client.Path(), Client / "windows", Client / "system32"},
            SystemClock(), RealPrograms ? SystemPrograms() : Programs);
        run->SetCallerWindow(caller);
        return run;
    }

    // Opens the run and lets it go to its end.
    void Drive(CUpdateRun& run, const std::string& path = "update.xml", bool ticks = true) {
        run.StartRun(Web->Url(path));
        run.OnTimer(WM_TIMER_REPAINT);
        ASSERT_TRUE(Host->RunUntilQuit(run, ticks));
    }

    std::vector<std::string> FilesRequested() {
        std::vector<std::string> out;
        for (const std::string& r : Web->Requests())
            if (r.rfind("/files/", 0) == 0) out.push_back(r);
        return out;
    }

    // The lobby is started detached, so its note can only be waited for; the limit is generous
    // because a loaded machine may take seconds to run a shell, and a pass costs no more for it.
    bool LobbyStarted() { return WaitForFile(Work / "lobby.txt"); }
    // Asked once the run has ended: it would have started the lobby by then.
    bool LobbyStayedAway() {
        return std::count(Programs.Started.begin(), Programs.Started.end(), "lobby") == 0;
    }

    TempDir Client, Server, Work, Tmp;
    int Serial = 0;
    std::unique_ptr<WebServer> Web;
    std::unique_ptr<TestHost> Host = std::make_unique<TestHost>();
    RecordingPrograms Programs;
    // The lobby the system would start (beside the program, in the current directory, on PATH)
    // rather than a record of the start.
    bool RealPrograms = false;
    std::string SavedTmp;
    fs::path SavedCwd;
    const std::string Connecting = FillText(kTextConnecting, {kServerName});
    const std::string Fetched = FillText(kTextCatalogueFetched, {kServerName});
};

TEST_F(UpdateRunTest, ThreeOutdatedFilesAreInstalledInOrderThenTheLobbyStarts) {
    const std::vector<File> files = {{"a.dat", std::string(1536, 'a')},
                                     {"b.dat", std::string(1024, 'b')},
                                     {"c.dat", std::string(511, 'c')}};
    Publish(files);
    Client.Write("b.dat", "old copy");  // replaced in place, keeping its permissions
    RealPrograms = true;
    fs::permissions(Client / "b.dat", fs::perms::owner_all | fs::perms::group_read);
    auto run = MakeRun();
    Drive(*run);

    EXPECT_THAT(
        Host->Events,
        ElementsAre("status " + Connecting, "status " + Fetched, "result 3",
                    "status 需更新文件总数: 3, 文件总长度: 2 KB", "status a.dat",
                    "status 下载文件成功 [a.dat]", "status b.dat", "status 下载文件成功 [b.dat]",
                    "status c.dat", "status 下载文件成功 [c.dat]", "status 更新完毕", "quit"));
    EXPECT_THAT(Host->Results, ElementsAre(std::make_pair(77u, 3u)));
    // Fetched side by side, so answered in any order; installed in catalogue order all the same.
    EXPECT_THAT(FilesRequested(), ::testing::UnorderedElementsAre(
                                      "/files/a.dat 200", "/files/b.dat 200", "/files/c.dat 200"));
    for (const File& f : files) {
        EXPECT_EQ(ReadFile(Client / f.Name), f.Content);
        EXPECT_FALSE(fs::exists(Client / (f.Name + ".update")));
    }
#ifndef _WIN32
    // The replaced file's permission bits carry over (Windows files have none).
    EXPECT_EQ(fs::status(Client / "b.dat").permissions(),
              fs::perms::owner_all | fs::perms::group_read);
#endif
    EXPECT_EQ(run->RunOutcome(), CUpdateRun::Outcome::Finished);
    EXPECT_EQ(run->Snapshot().FileCount, 3u);
    EXPECT_EQ(run->Snapshot().TotalBytes, 3071u);
    // Coalesced notifications still add up to every byte of the files.
    EXPECT_EQ(run->Snapshot().ReceivedBytes, 3071u);
    EXPECT_EQ(run->Snapshot().TotalPercent, 100);
    EXPECT_GT(Host->ProgressFrames, 0);
    EXPECT_EQ(CountTempCatalogues(Tmp.Path()), 0);
    ASSERT_TRUE(LobbyStarted());
    EXPECT_EQ(ReadFile(Work / "lobby.txt"), "gameToval\n");
}

TEST_F(UpdateRunTest, EverythingCurrentEndsWithoutDownloadsOrLobby) {
    Publish({{"a.dat", "aaaa", true, true}, {"b.dat", "bb", true, true}});
    for (uint32_t caller : {77u, 0u}) {
        Host = std::make_unique<TestHost>();
        auto run = MakeRun(caller);
        Drive(*run);
        const std::vector<std::string> withResult = {"status " + Connecting, "status " + Fetched,
                                                     "status 你当前的版本是最新的", "result 0",
                                                     "quit"};
        std::vector<std::string> expected = withResult;
        if (caller == 0) expected.erase(expected.begin() + 3);  // no caller, no result message
        EXPECT_THAT(Host->Events, ElementsAreArray(expected)) << "caller " << caller;
        EXPECT_EQ(run->RunOutcome(), CUpdateRun::Outcome::UpToDate);
    }
    EXPECT_TRUE(FilesRequested().empty());
    EXPECT_TRUE(LobbyStayedAway());
}

TEST_F(UpdateRunTest, AFailedFileEndsTheRunWithoutTheLobby) {
    struct Case {
        int Missing;  // index of the file the server lacks
    };
    for (const Case c : {Case{1}, Case{2}}) {
        SCOPED_TRACE("missing file " + std::to_string(c.Missing));
        const std::string tag = std::to_string(c.Missing);
        std::vector<File> files = {
            {"a" + tag + ".dat", "A"}, {"b" + tag + ".dat", "BB"}, {"c" + tag + ".dat", "CCC"}};
        files[c.Missing].OnServer = false;
        Publish(files);
        Host = std::make_unique<TestHost>();
        auto run = MakeRun();
        CUpdateRun* raw = run.get();
        // Files after the failed one may have been fetched beside it, but none is installed.
        const auto laterFileInstalled = [&] {
            for (size_t i = c.Missing + 1; i < files.size(); ++i)
                if (fs::exists(Client / files[i].Name)) return true;
            return false;
        };
        // A tick while the box is open repaints and starts nothing.
        Host->DuringBox = [&] {
            const int repaints = Host->Invalidates;
            const uint32_t running = raw->Snapshot().Running;
            raw->OnTimer(WM_TIMER_REPAINT);
            raw->OnTimer(WM_TIMER_PUMP);
            EXPECT_EQ(Host->Invalidates, repaints + 1);
            EXPECT_EQ(raw->Snapshot().Running, running);
            EXPECT_FALSE(laterFileInstalled());
        };
        Drive(*run);

        const std::string failed = "下载文件失败 [" + files[c.Missing].Name + "], 错误代码 [6]";
        ASSERT_EQ(Host->Boxes.size(), 1u);
        EXPECT_EQ(Host->Boxes[0].Text, "可能由于网络原因，" + failed + " ");
        EXPECT_EQ(Host->Boxes[0].Caption, "");
        EXPECT_EQ(Host->Boxes[0].Type, kBoxOk);
        const std::vector<std::string> statuses = Statuses(Host->Events);
        EXPECT_EQ(statuses.back(), failed);
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "更新完毕"), 0);
        EXPECT_EQ(Host->Events.back(), "quit");
        EXPECT_EQ(run->RunOutcome(), CUpdateRun::Outcome::Failed);
        EXPECT_TRUE(LobbyStayedAway());
        run.reset();
        EXPECT_FALSE(laterFileInstalled());
        for (int i = 0; i < c.Missing; ++i)
            EXPECT_EQ(ReadFile(Client / files[i].Name), files[i].Content);
    }
}

TEST_F(UpdateRunTest, ACatalogueThatCannotBeFetchedOrReadEndsTheRun) {
    Server.Write("error.html", "<html><body><h1>Welcome</h1><p>maintenance");
    Server.Write("empty.xml", "<?xml version=\"1.0\"?><html><body>Maintenance</body></html>");
    struct Case {
        std::string Path;
        std::string Text;
    };
    const std::vector<Case> cases = {
        {"missing.xml", ResultCodeText(kResultHttpStatus)},
        {"error.html", std::string(kTextCatalogueUnreadable)},
        {"empty.xml", std::string(kTextCatalogueUnreadable)},  // well-formed, no files
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Path);
        fs::remove_all(Tmp.Path());
        fs::create_directories(Tmp.Path());
        Host = std::make_unique<TestHost>();
        auto run = MakeRun();
        Drive(*run, c.Path);
        ASSERT_EQ(Host->Boxes.size(), 1u);
        EXPECT_EQ(Host->Boxes[0].Text, c.Text);
        EXPECT_EQ(Host->Boxes[0].Caption, "系统提示");
        EXPECT_EQ(Host->Boxes[0].Type, kBoxIconError | kBoxOk);
        EXPECT_EQ(Statuses(Host->Events).back(), c.Text + "：" + std::string(kServerName));
        EXPECT_THAT(Host->Results, ElementsAre(std::make_pair(77u, 0u)));
        EXPECT_EQ(Host->Events.back(), "quit");
        EXPECT_EQ(run->RunOutcome(), CUpdateRun::Outcome::Failed);
        EXPECT_EQ(CountTempCatalogues(Tmp.Path()), 0);
    }
    EXPECT_TRUE(LobbyStayedAway());
}

TEST_F(UpdateRunTest, AFileInADirectoryNewToTheClientIsInstalled) {
    Publish({{"map.dat", "new map", true, false, "data/maps"}});
    auto run = MakeRun();
    Drive(*run);
    EXPECT_EQ(ReadFile(Client / "data/maps/map.dat"), "new map");
    EXPECT_EQ(run->RunOutcome(), CUpdateRun::Outcome::Finished);
}

TEST_F(UpdateRunTest, EachCompletionStartsTheNextFileWithoutWaitingForATick) {
    // More files than an install batch holds: every file still shows its own two lines in
    // order, whichever batch it is installed with.
    std::vector<File> files;
    // Appended, not "f" + ...: GCC 12 at -O3 falsely warns (-Wrestrict) on a literal plus a
    // temporary string.
    for (size_t i = 0; i < kInstallBatchFiles + 6; ++i)
        files.push_back({std::string("f").append(std::to_string(i)).append(".dat"), "x"});
    Publish(files);
    auto run = MakeRun();
    run->StartRun(Web->Url("update.xml"));
    run->OnTimer(WM_TIMER_PUMP);  // the one tick: starts the catalogue
    ASSERT_TRUE(Host->RunUntilQuit(*run, false));
    EXPECT_EQ(run->RunOutcome(), CUpdateRun::Outcome::Finished);
    std::vector<std::string> expected;
    for (const File& f : files) expected.push_back("/files/" + f.Name + " 200");
    EXPECT_THAT(FilesRequested(), ::testing::UnorderedElementsAreArray(expected));
#ifndef _WIN32
    // Connections are kept for the next files: no more than run at once (nginx keeps them
    // alive; the Windows test server closes each).
    std::set<std::string> connections;
    for (const std::string& line : Web->Connections())
        connections.insert(line.substr(0, line.find(' ')));
    EXPECT_LE(connections.size(), run->TransferLimit());
#endif
    std::vector<std::string> lines = {Connecting, Fetched, "需更新文件总数: 70, 文件总长度: 0 KB"};
    for (const File& f : files) {
        lines.push_back(f.Name);
        lines.push_back(std::string("下载文件成功 [").append(f.Name).append("]"));
        EXPECT_EQ(ReadFile(Client / f.Name), "x");
    }
    lines.push_back("更新完毕");
    EXPECT_EQ(Statuses(Host->Events), lines);
}

TEST_F(UpdateRunTest, CommandsQueueAnotherCatalogueOnlyWhenTheRunIsIdle) {
    auto run = MakeRun();
    run->Connect();  // no server yet: nothing queued, nothing shown
    EXPECT_EQ(run->QueuedCount(), 0u);
    EXPECT_TRUE(Host->Events.empty());
    run->AddServer(std::string(kServerName), Web->Url("update.xml"));
    run->OnCommand(kCommandNothing);
    EXPECT_EQ(run->QueuedCount(), 0u);
    run->Dispatch(kCommandMessage, kCommandConnect, nullptr);  // idle: taken
    EXPECT_EQ(run->QueuedCount(), 1u);
    // A second catalogue behind the first one's files would end the update half way with a
    // second result: while anything is queued the command is ignored.
    run->Dispatch(kCommandMessage, kCommandConnect, nullptr);
    EXPECT_EQ(run->QueuedCount(), 1u);
    EXPECT_THAT(Host->Events, ElementsAre("status " + Connecting));
    EXPECT_EQ(CountTempCatalogues(Tmp.Path()), 1);
    EXPECT_TRUE(Web->Requests().empty());
    run.reset();  // a run that ends before its catalogue arrived leaves no temporary file
    EXPECT_EQ(CountTempCatalogues(Tmp.Path()), 0);
}

TEST_F(UpdateRunTest, TheRepaintTickWritesItsMarkerAndAsksForARepaint) {
    auto run = MakeRun();
    run->OnTimer(WM_TIMER_REPAINT);
    run->OnTimer(WM_TIMER_PUMP);
    run->OnTimer(42);
    EXPECT_THAT(Host->Debug, ElementsAre("asdfasdf"));
    EXPECT_EQ(Host->Invalidates, 1);
    // A progress notification without a transfer changes nothing.
    EXPECT_EQ(run->OnDownloadProgress(MakeNotifyParam(2, 1024), nullptr), 0u);
    EXPECT_EQ(run->Snapshot().ReceivedBytes, 0u);
    EXPECT_EQ(Host->ProgressFrames, 0);
}

TEST_F(UpdateRunTest, AFileOfAnotherLengthThanListedIsAFailedFile) {
    struct Case {
        std::string Served;  // what the server has instead of the listed 12 bytes
    };
    const Case cases[] = {{"short"}, {"<html>Error: not found, try again later</html>"}, {""}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Served);
        const std::string name = "run" + std::to_string(n++) + ".sh";
        Publish({{name, "#!/bin/sh\n:\n\n"}, {"after.dat", "after"}});
        Server.Write("files/" + name, c.Served);
        Client.Write(name, "old");
        Host = std::make_unique<TestHost>();
        auto run = MakeRun();
        Drive(*run);
        EXPECT_EQ(Statuses(Host->Events).back(), "下载文件失败 [" + name + "], 错误代码 [10]");
        EXPECT_EQ(run->RunOutcome(), CUpdateRun::Outcome::Failed);
        EXPECT_EQ(ReadFile(Client / name), "old");
        EXPECT_FALSE(fs::exists(Client / (name + ".update")));
        EXPECT_FALSE(fs::exists(Client / "after.dat"));
    }
    EXPECT_TRUE(LobbyStayedAway());
}

TEST_F(UpdateRunTest, ALengthOfZeroIsNotCheckedAsOldCataloguesExpect) {
    Publish({{"zero.dat", "body"}});
    std::string xml = ReadFile(Server / "update.xml");
    xml.replace(xml.find("<Length>4</Length>"), 18, "<Length>0</Length>");
    WriteCatalogue(xml);
    auto run = MakeRun();
    Drive(*run);
    EXPECT_EQ(run->RunOutcome(), CUpdateRun::Outcome::Finished);
    EXPECT_EQ(ReadFile(Client / "zero.dat"), "body");
}

TEST_F(UpdateRunTest, FilesThatCannotFitOnTheDiskAreNotFetched) {
    Publish({{"small.dat", "s"}, {"huge.dat", "h"}});
    std::string xml = ReadFile(Server / "update.xml");
    const std::string one = "<Length>1</Length>";
    xml.replace(xml.rfind(one), one.size(), "<Length>1152921504606846976</Length>");  // 2^60
    WriteCatalogue(xml);
    auto run = MakeRun();
    Drive(*run);
    const std::string status = Statuses(Host->Events).back();
    EXPECT_EQ(status.rfind("磁盘空间不足: 需要 1125899906842624 KB, 可用 ", 0), 0u) << status;
    ASSERT_EQ(Host->Boxes.size(), 1u);
    EXPECT_EQ(Host->Boxes[0].Text, status);
    EXPECT_THAT(Host->Results, ElementsAre(std::make_pair(77u, 2u)));
    EXPECT_EQ(run->RunOutcome(), CUpdateRun::Outcome::Failed);
    EXPECT_TRUE(FilesRequested().empty());
    EXPECT_TRUE(LobbyStayedAway());
}

TEST_F(UpdateRunTest, ASecondRunWaitsForTheFirstThenChecksForItself) {
    Publish({{"a.dat", "aaaa"}});
    const std::string waiting(kTextWaitingForOtherRun);
    auto first = MakeRun();
    first->StartRun(Web->Url("update.xml"));  // holds the client directory until it goes

    // One that waits too long gives up with a box and the caller's result.
    TestHost impatientHost;
    ManualClock clock;
    CUpdateRun impatient(impatientHost, BaseDirectories{Client.Path(), Client / "w", Client / "s"},
                         clock, SystemPrograms());
    impatient.SetCallerWindow(77);
    impatient.SetLockWaitLimit(std::chrono::milliseconds(200));
    impatient.StartRun(Web->Url("update.xml"));
    impatient.OnTimer(WM_TIMER_PUMP);
    EXPECT_EQ(impatient.QueuedCount(), 0u);
    clock.At += std::chrono::milliseconds(199);
    impatient.OnTimer(WM_TIMER_PUMP);
    EXPECT_EQ(impatientHost.Boxes.size(), 0u);
    clock.At += std::chrono::milliseconds(1);
    impatient.OnTimer(WM_TIMER_PUMP);
    const std::string gaveUp(kTextOtherRunStillRunning);
    EXPECT_THAT(impatientHost.Events, ElementsAre("status " + waiting, "status " + gaveUp,
                                                  "box " + gaveUp, "result 0", "quit"));
    EXPECT_EQ(impatient.RunOutcome(), CUpdateRun::Outcome::Failed);

    // One that waits long enough goes on as soon as the first has gone.
    TestHost patientHost;
    CUpdateRun patient(patientHost, BaseDirectories{Client.Path(), Client / "w", Client / "s"});
    patient.StartRun(Web->Url("update.xml"));
    patient.OnTimer(WM_TIMER_PUMP);
    EXPECT_THAT(patientHost.Events, ElementsAre("status " + waiting));
    first.reset();
    ASSERT_TRUE(patientHost.RunUntilQuit(patient));
    EXPECT_EQ(patient.RunOutcome(), CUpdateRun::Outcome::Finished);
    EXPECT_EQ(Statuses(patientHost.Events)[1], Connecting);
    EXPECT_EQ(ReadFile(Client / "a.dat"), "aaaa");
    EXPECT_EQ(FilesRequested().size(), 1u);
}

TEST_F(UpdateRunTest, LongNamesAndLeftoversOfADeadRunDoNotBlockTheirFiles) {
    std::string longName;
    for (int i = 0; i < 85; ++i) longName += "龙";  // 255 bytes: no room for ".update"
    Publish({{longName, "long"}, {"a.dat", "fresh"}});
    Client.Write("a.dat.update", "stale bytes of a run that was killed");
    auto run = MakeRun();
    Drive(*run);
    EXPECT_EQ(run->RunOutcome(), CUpdateRun::Outcome::Finished);
    EXPECT_EQ(ReadFile(Client / longName), "long");
    EXPECT_EQ(ReadFile(Client / "a.dat"), "fresh");
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(FromUtf8(Client.Path())))
        left.push_back(Utf8(e.path().filename()));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".toval-updater", "a.dat", longName}));
}

#ifndef _WIN32
// Linux threads only: the fault is injected through the default attributes of pthreads.
TEST_F(UpdateRunTest, AWorkerThatCannotStartEndsTheRunAndTellsTheCaller) {
    Publish({{"a.dat", "aaaa"}});
    // Fault injection, not a fake: every new thread now asks for a stack no machine can map,
    // so the transfer's worker really fails to start.
    pthread_attr_t saved, huge;
    ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, size_t{1} << 46);
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    auto run = MakeRun();
    run->StartRun(Web->Url("update.xml"));
    run->OnTimer(WM_TIMER_PUMP);
    pthread_setattr_default_np(&saved);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&saved);
    EXPECT_EQ(run->RunOutcome(), CUpdateRun::Outcome::Stopped);
    EXPECT_THAT(Host->Results, ElementsAre(std::make_pair(77u, 0u)));
    ASSERT_FALSE(Host->Events.empty());
    EXPECT_EQ(Host->Events.back(), "quit");
    EXPECT_EQ(Host->Boxes.size(), 1u);
    EXPECT_EQ(CountTempCatalogues(Tmp.Path()), 0);
}

#endif

}  // namespace
}  // namespace toval::test
