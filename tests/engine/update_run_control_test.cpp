// What drives a run besides its transfers: the commands that queue a catalogue, the repaint
// tick, and a second run on the same client, which waits for the first or gives up.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "engine/CUpdateRun.h"
#include "engine/status_texts.h"
#include "tests/engine/RecordingPrograms.h"
#include "tests/engine/TestHost.h"
#include "tests/engine/UpdateRunFixture.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

using ::testing::ElementsAre;

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

}  // namespace
}  // namespace toval::test
