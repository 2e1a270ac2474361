// The arithmetic of the progress display: percentages, speed, bar widths and file position;
// the ids of outside commands.

#include <gtest/gtest.h>

#include <vector>

#include "engine/progress_figures.h"
#include "ui/run_display.h"

namespace toval {
namespace {

struct Notification {
    int32_t Kind;
    uint64_t Chunk;
    uint64_t Received;
    uint64_t Expected;
    int32_t NowMs;
};

struct FiguresCase {
    const char* Name;
    uint64_t TotalBytes;
    std::vector<Notification> Notifications;
    int32_t FilePercent;
    int32_t TotalPercent;
    uint64_t ReceivedBytes;
    uint64_t BytesPerSecond;
    uint64_t LastReceived;
};

TEST(ProgressFiguresCorners, CornersOfTheArithmetic) {
    const std::vector<FiguresCase> cases = {
        // The engine's own table covers the ordinary sequence; these are the corners around it.
        {"a catalogue with a known length moves only the file percentage",
         1000,
         {{1, 512, 512, 1024, 100}},
         50,
         0,
         0,
         0,
         0},
        {"bytes of an equal clock reading count in the next measurement",
         10'000,
         {{2, 1000, 1000, 4000, 500}, {2, 1000, 2000, 4000, 500}, {2, 1000, 3000, 4000, 1500}},
         75,
         30,
         3000,
         2000,
         3000},
        {"a clock that ran backwards is no measurement",
         10'000,
         {{2, 1000, 1000, 10'000, 1000}, {2, 1000, 2000, 10'000, 400}},
         20,
         20,
         2000,
         1000,
         1000},
        {"lengths beyond 32 bits stay exact",
         10'000'000'000,
         {{2, 5'000'000'000, 5'000'000'000, 10'000'000'000, 1000}},
         50,
         50,
         5'000'000'000,
         5'000'000'000,
         5'000'000'000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ProgressFigures figures;
        uint64_t receivedBytes = 0;
        for (const auto& n : c.Notifications) {
            figures.OnProgress(n.Kind, n.Chunk, n.Received, n.Expected, receivedBytes, c.TotalBytes,
                               n.NowMs);
        }
        EXPECT_EQ(figures.FilePercent, c.FilePercent);
        EXPECT_EQ(figures.TotalPercent, c.TotalPercent);
        EXPECT_EQ(receivedBytes, c.ReceivedBytes);
        EXPECT_EQ(figures.BytesPerSecond, c.BytesPerSecond);
        EXPECT_EQ(figures.LastReceived, c.LastReceived);
    }
}

TEST(ProgressFiguresCorners, BarWidthSpeedAndPosition) {
    const std::pair<int32_t, int32_t> widths[] = {
        {0, 0}, {1, 3}, {50, 199}, {100, 399}, {120, 478}, {-5, -19},
    };
    for (auto [percent, width] : widths) EXPECT_EQ(ProgressFigures::BarWidth(percent), width);

    ProgressFigures figures;
    figures.BytesPerSecond = 1023;
    EXPECT_EQ(figures.KilobytesPerSecond(), 0);
    figures.BytesPerSecond = 1536;
    EXPECT_EQ(figures.KilobytesPerSecond(), 1);

    EXPECT_EQ(ProgressFigures::FilePosition(0, 1), 0);  // only the catalogue queued
    EXPECT_EQ(ProgressFigures::FilePosition(10, 8), 3);
}

TEST(WindowCommands, OnlyMenuAndAcceleratorCommandsCarryAnId) {
    EXPECT_EQ(WindowCommandId(1005), 1005u);
    EXPECT_EQ(WindowCommandId((1u << 16) | 1005), 1005u);
    EXPECT_EQ(WindowCommandId((2u << 16) | 1005), 0u);
    EXPECT_EQ(WindowCommandId(1004), 1004u);
}

}  // namespace
}  // namespace toval
