// The run's pipeline with scripted transfers, which alone can make files finish on cue: one
// writer per file, prompt installs, what an early ending keeps, the file the window names, and
// actions that survive a run killed between a rename and a start.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "engine/CUpdateRun.h"
#include "engine/action_journal.h"
#include "engine/status_texts.h"
#include "net/update_path.h"
#include "platform/disk_space.h"
#include "platform/run_lock.h"
#include "tests/engine/RecordingPrograms.h"
#include "tests/engine/ScriptedTransfer.h"
#include "tests/engine/TestHost.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct Entry {
    std::string Name;
    std::string Url;
    std::string Body;
    std::string Extra;   // more elements of its <File>
    std::string Length;  // as the catalogue writes it; empty: the body's
};

class PipelineTest : public ::testing::Test {
  protected:
    static Entry File(const std::string& name, const std::string& body = "",
                      const std::string& extra = "") {
        return {name, FileUrl(name), body.empty() ? "new " + name : body, extra, ""};
    }

    // Forgets the run and what it asked for, keeping the client directory.
    void Reset() {
        Run.reset();
        Made = ScriptedTransfers();
        Programs.Started.clear();
        Host = std::make_unique<TestHost>();
    }

    void Open(const std::vector<Entry>& entries) {
        Entries = entries;
        std::string xml = "<?xml version=\"1.0\"?><xmlRoot><Product>";
        for (const Entry& e : entries)
            xml += "<File><FileName>" + e.Name + "</FileName><Length>" +
                   (e.Length.empty() ? std::to_string(e.Body.size()) : e.Length) +
                   "</Length><URL>" + e.Url + "</URL>" + e.Extra + "</File>";
        xml += "</Product></xmlRoot>";
        Run = std::make_unique<CUpdateRun>(
            *Host, BaseDirectories{Client.Path(), Client.Path(), Client.Path()}, SystemClock(),
            Programs);
        Run->SetTransferFactory(Made.Factory());
        Run->StartRun(kCatalogueUrl);
        Run->OnTimer(WM_TIMER_PUMP);
        Made.Find(kCatalogueUrl)->Finish(kResultOk, xml);
        Settle();
    }
    ScriptedTransfer& Transfer(const std::string& url) {
        ScriptedTransfer* t = Made.Find(url);
        EXPECT_NE(t, nullptr) << url << " never started";
        static ScriptedTransfer* none = nullptr;
        return t ? *t : *none;
    }
    void Finish(const Entry& e, int32_t code = kResultOk) {
        Transfer(e.Url).Finish(code, e.Body);
        Settle();
    }
    void Tick() {
        Run->OnTimer(WM_TIMER_PUMP);
        Settle();
    }
    void Settle() {
        while (Host->DispatchOne(*Run, std::chrono::milliseconds(0))) {
        }
    }
    std::string Installed(const std::string& name) {
        const std::string path = Client / name;
        return fs::exists(FromUtf8(path)) ? ReadFile(path) : std::string("(none)");
    }
    // Starts another run on the same client, as the next launch would; what it started.
    std::vector<std::string> StartAgain(TestHost& host) {
        RecordingPrograms programs;
        CUpdateRun again(host, BaseDirectories{Client.Path(), Client.Path(), Client.Path()},
                         SystemClock(), programs);
        again.SetTransferFactory(Made.Factory());
        again.StartRun(kCatalogueUrl);
        return programs.Started;
    }
    bool Running(const Entry& e) {
        const ScriptedTransfer* t = Made.Find(e.Url);
        return t && t->Running();
    }

    TempDir Client;
    std::unique_ptr<TestHost> Host = std::make_unique<TestHost>();
    RecordingPrograms Programs;
    ScriptedTransfers Made;
    std::vector<Entry> Entries;
    std::unique_ptr<CUpdateRun> Run;
};

// Two entries for one file: the second waits until the first is installed, so one ".update"
// never has two writers, and each has its own lines and action.
TEST_F(PipelineTest, EntriesForOneFileAreFetchedAndInstalledOneAfterTheOther) {
    struct Case {
        std::string First, Second;
        bool OneFile;
    };
    const Case cases[] = {
        {"dup.dat", "dup.dat", true},
#ifdef _WIN32
        {"Data.pak", "data.PAK", true},
#else
        {"Data.pak", "data.PAK", false},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.First + " / " + c.Second);
        Entry one{c.First, "http://updates.test/one", "first version", "<Execute>YES</Execute>",
                  ""};
        Entry two{c.Second, "http://updates.test/two", "second version", "<Execute>YES</Execute>",
                  ""};
        Entry other = File("other.dat");
        Open({one, other, two});
        EXPECT_EQ(Running(two), !c.OneFile);
        Finish(other);
        Finish(one);
        Tick();
        EXPECT_TRUE(Running(two));
        Finish(two);
        EXPECT_EQ(Run->RunOutcome(), CUpdateRun::Outcome::Finished);
        if (c.OneFile) {
            EXPECT_EQ(Installed(c.First), "second version");
        }
        EXPECT_EQ(std::count_if(Programs.Started.begin(), Programs.Started.end(),
                                [](const std::string& s) { return s.rfind("execute", 0) == 0; }),
                  2);
        Reset();
        for (const auto& f : fs::directory_iterator(FromUtf8(Client.Path())))
            if (f.path().filename() != ".toval-updater") fs::remove_all(f.path());
    }
}

TEST_F(PipelineTest, AFinishedFrontIsInstalledByTheNextTickWhileLaterFilesStillRun) {
    const Entry a = File("a"), b = File("b"), c = File("c");
    Open({a, b, c});
    Finish(a);
    Tick();
    EXPECT_EQ(Installed("a"), "new a");
    EXPECT_TRUE(Running(b) && Running(c));
}

// Every early ending keeps what it can: the finished front goes in, with its action left in the
// journal for the next run; a finished file behind an unfinished one stays for the next run.
TEST_F(PipelineTest, AnEarlyEndingInstallsTheFinishedFrontAndKeepsTheRest) {
    for (const bool signal : {false, true}) {
        SCOPED_TRACE(signal ? "terminated" : "abandoned");
        const Entry a = File("a", "", "<Execute>YES</Execute><ExecutePar>-x</ExecutePar>");
        const Entry b = File("b"), c = File("c"), d = File("d");
        Open({a, b, c, d});
        Transfer(a.Url).Finish(kResultOk, a.Body);
        Transfer(c.Url).Finish(kResultOk, c.Body);
        // Their completions are still in the loop's queue when the ending comes.
        if (signal) {
            Run->Terminate();
        } else {
            Run->Abandon();
        }
        EXPECT_EQ(Installed("a"), "new a");
        EXPECT_EQ(Installed("b"), "(none)");
        EXPECT_EQ(Installed("c"), "(none)");
        EXPECT_EQ(ReadFile(Client / "c.update"), "new c");
        EXPECT_THAT(Made.Cancelled, ::testing::IsSupersetOf({b.Url, d.Url}));
        EXPECT_TRUE(Programs.Started.empty());
        Run.reset();

        // The next run performs the journaled action before it fetches anything.
        TestHost next;
        EXPECT_THAT(StartAgain(next), ElementsAre("execute " + (Client / "a") + " -x"));
        EXPECT_EQ(Statuses(next.Events).front(), FillText(kTextReplayingAction, {"a"}));
        Reset();
        for (const char* n : {"a", "c.update"}) fs::remove(Client / n);
    }
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
// The fault a journal exists for: the process dies after the rename and before the start.
TEST_F(PipelineTest, AnActionCutOffByTheProcessDyingRunsOnceInTheNextRun) {
    // Forked, so that the child writes into this test's client directory; it starts no thread.
    GTEST_FLAG_SET(death_test_style, "fast");
    const Entry run =
        File("run.sh", "#!/bin/sh\n", "<Execute>YES</Execute><ExecutePar>go</ExecutePar>");
    const Entry reg = File("c.dll", "dll", "<Register>YES</Register>");
    EXPECT_EXIT(
        {
            Programs.BeforeStart = [](const std::string&) { std::_Exit(9); };
            Open({run, reg});
            Finish(run);
            Finish(reg);
        },
        ::testing::ExitedWithCode(9), "");
    EXPECT_EQ(Installed("run.sh"), "#!/bin/sh\n");

    TestHost next, later;
    EXPECT_THAT(StartAgain(next), ElementsAre("execute " + (Client / "run.sh") + " go"));
    EXPECT_TRUE(StartAgain(later).empty());  // once, not again
}
#endif

TEST(ActionJournalText, ADamagedJournalIsNeverActedOnInPart) {
    const std::vector<JournalAction> actions = {
        {JournalAction::Kind::Execute, "/c/a b\nc.exe", "-x \"y\"", "12 3 4"},
        {JournalAction::Kind::Register, "/c/d.dll", "", ""}};
    const std::string good = FormatJournal(actions);
    EXPECT_EQ(ParseJournal(good), actions);
    EXPECT_EQ(ParseJournal(FormatJournal({})), std::vector<JournalAction>{});
    std::string flipped = good;
    flipped[30] ^= 1;
    for (const std::string& bad : {good.substr(0, good.size() / 2), good.substr(0, good.size() - 1),
                                   flipped, std::string(), std::string("sum \n"), good + good}) {
        EXPECT_FALSE(ParseJournal(bad).has_value()) << bad;
    }
}

// A run killed between the journal and the rename leaves the old file in place: it must not
// be started with the new one's parameters.
TEST_F(PipelineTest, AJournaledActionIsReplayedOnlyForTheFileItWasWrittenFor) {
    Client.Write("run.sh", "#!/bin/sh\n# the old version\n");
    fs::create_directories(FromUtf8(StateDirectory(Client.Path())));
    Client.Write(
        ".toval-updater/actions",
        FormatJournal({{JournalAction::Kind::Execute, Client / "run.sh", "go", "27 1 2"}}));
    Open({File("a")});
    EXPECT_TRUE(Programs.Started.empty());
    EXPECT_FALSE(fs::exists(FromUtf8(Client / ".toval-updater/actions")));
}

TEST_F(PipelineTest, ADamagedJournalIsDiscardedAndTheRunGoesOn) {
    const std::string state = StateDirectory(Client.Path());
    fs::create_directories(FromUtf8(state));
    Client.Write(
        ".toval-updater/actions",
        FormatJournal({{JournalAction::Kind::Execute, (Client / "x"), "", ""}}).substr(0, 40));
    Open({File("a")});
    EXPECT_TRUE(Programs.Started.empty());
    EXPECT_FALSE(fs::exists(Client / ".toval-updater/actions"));
    EXPECT_THAT(Host->Debug, ::testing::Contains("damaged action journal discarded"));
}

// The window's name, percentage and position are one file's, the first still downloading,
// whatever the others do.
TEST_F(PipelineTest, TheWindowNamesTheFileWhoseFiguresItShows) {
    const Entry a = File("a", std::string(100, 'a')), b = File("b", std::string(200, 'b')),
                c = File("c", std::string(400, 'c'));
    Open({a, b, c});
    struct Step {
        std::function<void()> Do;
        std::string Name;
        int32_t Percent;
        uint32_t Position;
    };
    const Step steps[] = {
        {[&] { Transfer(a.Url).Progress(50); }, "a", 50, 1},
        {[&] { Transfer(c.Url).Progress(300); }, "a", 50, 1},
        {[&] { Transfer(a.Url).Finish(kResultOk, a.Body); }, "b", 0, 2},  // a waits for a tick
        {[&] { Transfer(b.Url).Progress(50); }, "b", 25, 2},
        {[&] { Transfer(b.Url).Finish(kResultOk, b.Body); }, "c", 75, 3},
    };
    for (const Step& s : steps) {
        s.Do();
        Settle();
        const RunSnapshot shot = Run->Snapshot();
        EXPECT_EQ(shot.WindowText, s.Name);
        EXPECT_EQ(shot.ShownFile, s.Name);
        EXPECT_EQ(shot.FilePercent, s.Percent) << s.Name;
        EXPECT_EQ(shot.FilePosition, s.Position) << s.Name;
    }
}

// A Length no file can have counts as none: the entry is fetched without a length check and the
// space check of the whole update is not failed by it.
TEST_F(PipelineTest, AnImpossibleLengthCountsAsUnknown) {
    Entry bad = File("bad.dat");
    bad.Length = "-5";
    Entry none = File("none.dat");
    none.Length = "0";
    const Entry good = File("good.dat");
    Open({bad, none, good});
    ASSERT_TRUE(Host->Boxes.empty()) << Host->Boxes[0].Text;
    for (const Entry* e : {&bad, &none}) {
        const TransferRequest& request = Transfer(e->Url).Request();
        EXPECT_EQ(request.ExpectedLength, 0u);
        // Without a length, a body may still not take more than half of the free space.
        const uint64_t half = FreeBytes(Client.Path()) / 2;
        EXPECT_GT(request.MaxLength, half - half / 100);
        EXPECT_LT(request.MaxLength, half + half / 100);
    }
    EXPECT_EQ(Run->Snapshot().TotalBytes, good.Body.size());
    for (const Entry& e : {bad, none, good}) Finish(e);
    EXPECT_EQ(Run->RunOutcome(), CUpdateRun::Outcome::Finished);
}

}  // namespace
}  // namespace toval::test
