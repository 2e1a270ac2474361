// The session every front end shares: how posted messages reach the run (in order, with one
// wake-up however many wait, never starving the ticks) and how a whole run ends over it. The
// front end here records what the session asks of it; the run, its transfer and the server it
// fails to reach are real.

#include "ui/run_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace toval {
namespace {

struct RecordingFrontEnd : ISessionFrontEnd {
    bool WakeUp() override {
        ++WakeUps;
        return true;
    }
    void ShowMessageBox(const std::string& text, const std::string&, uint32_t) override {
        Boxes.push_back(text);
    }
    uint32_t OwnWindowId() const override { return 0; }
    void EndLoop() override { ++LoopEnds; }
    void Invalidate() override { ++Repaints; }

    std::atomic<int> WakeUps{0};
    std::vector<std::string> Boxes;
    int LoopEnds = 0;
    int Repaints = 0;
};

StartOptions OptionsIn(const test::TempDir& dir, const std::string& url) {
    return {url, 0, BaseDirectories{dir.Path(), dir / "w", dir / "s"}};
}

TEST(RunSession, AFloodOfMessagesWakesTheLoopOnceAndStarvesNoTick) {
    test::TempDir dir;
    RecordingFrontEnd front;
    RunSession session(front, OptionsIn(dir, "http://127.0.0.1:1/update.xml"));
    // Posted from a worker, as transfers do; the loop is busy meanwhile and wakes later.
    std::thread worker([&] {
        for (int i = 0; i < 20000; ++i) session.Post(kCommandMessage, kCommandNothing, nullptr);
    });
    worker.join();
    EXPECT_EQ(front.WakeUps, 1);
    // The ticks are overdue by now: the delivery runs them in between.
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * kTimerPeriodMs));
    session.DeliverPosted();
    EXPECT_EQ(front.Repaints, 1);
    // All that waited went; the next message wakes the loop again.
    session.Post(kCommandMessage, kCommandNothing, nullptr);
    EXPECT_EQ(front.WakeUps, 2);
}

TEST(RunSession, ARunThatCannotReachItsServerEndsAsAFailure) {
    test::TempDir dir;
    RecordingFrontEnd front;
    RunSession session(front, OptionsIn(dir, "http://127.0.0.1:1/update.xml"));
    session.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!session.LoopOver() && std::chrono::steady_clock::now() < deadline) {
        session.DeliverPosted();
        session.Tick(WM_TIMER_PUMP);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(session.LoopOver());
    EXPECT_EQ(front.LoopEnds, 1);
    EXPECT_EQ(front.Boxes.size(), 1u);
    EXPECT_EQ(session.ExitStatus(), 1);
    // Nothing is delivered once the run is over.
    const int repaints = front.Repaints;
    session.Tick(WM_TIMER_REPAINT);
    EXPECT_EQ(front.Repaints, repaints);
}

}  // namespace
}  // namespace toval
