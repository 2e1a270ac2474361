// Runs that end early: a file that fails or has another length than listed, a catalogue that
// cannot be fetched or read, files that cannot fit on the disk; none of them starts the lobby.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/CUpdateRun.h"
#include "engine/status_texts.h"
#include "tests/engine/TestHost.h"
#include "tests/engine/UpdateRunFixture.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

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

}  // namespace
}  // namespace toval::test
