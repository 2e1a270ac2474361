// Files fetched side by side still end the way one after another would: installed, shown and
// failed in catalogue order, whichever finishes first. The transfers are scripted, since only
// they can make a later file finish first on cue.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/CUpdateRun.h"
#include "tests/engine/ScriptedTransfer.h"
#include "tests/engine/TestHost.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAreArray;

class ParallelRunTest : public ::testing::Test {
  protected:
    static std::string Body(const std::string& name) { return "new " + name; }
    // Opens a run whose catalogue lists `names` (none on the client yet).
    void Open(const std::vector<std::string>& names) {
        std::string xml = "<?xml version=\"1.0\"?><xmlRoot><Product>";
        for (const std::string& n : names)
            xml += "<File><FileName>" + n + "</FileName><Length>" + std::to_string(Body(n).size()) +
                   "</Length><URL>" + FileUrl(n) + "</URL></File>";
        xml += "</Product></xmlRoot>";
        Run = std::make_unique<CUpdateRun>(
            Host, BaseDirectories{Client.Path(), Client.Path(), Client.Path()});
        Run->SetTransferFactory(Made.Factory());
        Run->StartRun(kCatalogueUrl);
        Run->OnTimer(WM_TIMER_PUMP);
        Made.Find(kCatalogueUrl)->Finish(kResultOk, xml);
        Settle();
    }
    void Finish(const std::string& name, int32_t code = kResultOk) {
        ScriptedTransfer* t = Made.Find(FileUrl(name));
        ASSERT_NE(t, nullptr) << name << " never started";
        t->Finish(code, Body(name));
        Settle();
    }
    void Settle() {
        while (Host.DispatchOne(*Run, std::chrono::milliseconds(0))) {
        }
    }
    // The file lines shown since the totals.
    std::vector<std::string> FileLines() {
        std::vector<std::string> all = Statuses(Host.Events);
        return std::vector<std::string>(all.begin() + 3, all.end());
    }
    bool Installed(const std::string& name) { return fs::exists(Client / name); }

    TempDir Client;
    TestHost Host;
    ScriptedTransfers Made;
    std::unique_ptr<CUpdateRun> Run;
};

TEST_F(ParallelRunTest, LaterFilesFinishingFirstAreShownAndInstalledInCatalogueOrder) {
    Open({"a", "b", "c", "d", "e", "f", "g"});
    // Five at once, in catalogue order.
    EXPECT_THAT(Made.Started, ElementsAreArray({kCatalogueUrl, FileUrl("a"), FileUrl("b"),
                                                FileUrl("c"), FileUrl("d"), FileUrl("e")}));
    Finish("c");
    Finish("b");
    // Finished files wait for the first; each freed place starts the next file.
    EXPECT_FALSE(Installed("b") || Installed("c"));
    EXPECT_EQ(Made.Started.size(), 8u);
    EXPECT_THAT(FileLines(), ElementsAreArray({"a"}));
    for (const char* name : {"g", "a", "f", "e", "d"}) Finish(name);

    std::vector<std::string> lines;
    for (const char* name : {"a", "b", "c", "d", "e", "f", "g"}) {
        lines.push_back(name);
        lines.push_back(std::string("下载文件成功 [") + name + "]");
        EXPECT_EQ(ReadFile(Client / name), std::string("new ") + name);
    }
    lines.push_back("更新完毕");
    EXPECT_EQ(FileLines(), lines);
    EXPECT_EQ(Run->RunOutcome(), CUpdateRun::Outcome::Finished);
    EXPECT_EQ(Run->Snapshot().ReceivedBytes, 7 * 5u);  // every running transfer's bytes count
}

TEST_F(ParallelRunTest, TheFirstFailureInCatalogueOrderIsTheOneThatEndsTheRun) {
    Open({"a", "b", "c", "d", "e", "f"});
    Finish("d", kResultHttpStatus);
    // Nothing after the failed file can be installed: what runs there stops, nothing starts.
    EXPECT_THAT(Made.Cancelled, ElementsAreArray({FileUrl("e")}));
    EXPECT_EQ(Made.Find(FileUrl("f")), nullptr);
    Finish("e", kResultCancelled);
    // An earlier file fails too: it is the failure the player sees, and the end of the run.
    Finish("b", kResultConnect);
    EXPECT_TRUE(Host.Boxes.empty());  // a still runs, and may yet be installed
    Finish("a");
    EXPECT_THAT(FileLines(),
                ElementsAreArray({"a", "下载文件成功 [a]", "b", "下载文件失败 [b], 错误代码 [2]"}));
    ASSERT_EQ(Host.Boxes.size(), 1u);
    EXPECT_TRUE(Installed("a"));
    for (const char* name : {"b", "c", "d", "e"}) EXPECT_FALSE(Installed(name)) << name;
    EXPECT_EQ(Run->RunOutcome(), CUpdateRun::Outcome::Failed);
    Finish("c");  // arrives after the end: neither installed nor shown
    EXPECT_FALSE(Installed("c"));
    EXPECT_EQ(FileLines().size(), 4u);
}

// A transfer that cannot start (the real one, when no thread can be had for a patch's work) ends
// the run at once, and the caller is told.
TEST_F(ParallelRunTest, ATransferThatCannotStartEndsTheRunAndTellsTheCaller) {
    Made.Refused = {kCatalogueUrl};
    Run = std::make_unique<CUpdateRun>(
        Host, BaseDirectories{Client.Path(), Client.Path(), Client.Path()});
    Run->SetTransferFactory(Made.Factory());
    Run->SetCallerWindow(77);
    Run->StartRun(kCatalogueUrl);
    Run->OnTimer(WM_TIMER_PUMP);
    Settle();
    EXPECT_EQ(Run->RunOutcome(), CUpdateRun::Outcome::Stopped);
    EXPECT_THAT(Host.Results, ElementsAreArray({std::make_pair(77u, 0u)}));
    ASSERT_FALSE(Host.Events.empty());
    EXPECT_EQ(Host.Events.back(), "quit");
    EXPECT_EQ(Host.Boxes.size(), 1u);
}

}  // namespace
}  // namespace toval::test
