// Runs that install: files in catalogue order, then the lobby; nothing fetched when all is
// current; new directories, long names, leftovers of a killed run and a length of zero (as old
// catalogues write it); and only the checked download is renamed into place.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/CUpdateRun.h"
#include "tests/engine/TestHost.h"
#include "tests/engine/UpdateRunFixture.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

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

}  // namespace
}  // namespace toval::test
