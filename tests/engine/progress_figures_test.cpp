#include "engine/progress_figures.h"

#include <gtest/gtest.h>

namespace toval {
namespace {

TEST(ProgressFigures, NotificationTable) {
    struct Step {
        int32_t Kind;
        uint64_t Chunk, Received, Expected, Total;
        int32_t Now;
        // After the step:
        int32_t FilePercent, TotalPercent;
        uint64_t ReceivedBytes, BytesPerSecond;
    };
    // One sequence; each row builds on the state the previous rows left.
    const Step steps[] = {
        // A catalogue notification moves no figure but the file percentage it has none for.
        {1, 1024, 1024, 0, 0, 100, 0, 0, 0, 0},
        // Half of a 100,000,000-byte file that is the whole run.
        {2, 50'000'000, 50'000'000, 100'000'000, 100'000'000, 1000, 50, 50, 50'000'000, 50'000'000},
        // Same clock reading: the speed and its base stay; the bytes count in the next step.
        {2, 1'000'000, 51'000'000, 100'000'000, 100'000'000, 1000, 51, 51, 51'000'000, 50'000'000},
        {2, 1'000'000, 52'000'000, 100'000'000, 100'000'000, 1500, 52, 52, 52'000'000, 4'000'000},
        // More than expected is shown as it is, not clamped.
        {2, 100'000'000, 152'000'000, 100'000'000, 100'000'000, 2500, 152, 152, 152'000'000,
         100'000'000},
        // No total: the total figure and the speed stay while the bytes still add up.
        {2, 8, 8, 16, 0, 3000, 50, 152, 152'000'008, 100'000'000},
    };
    ProgressFigures f;
    uint64_t receivedBytes = 0;
    int row = 0;
    for (const Step& s : steps) {
        f.OnProgress(s.Kind, s.Chunk, s.Received, s.Expected, receivedBytes, s.Total, s.Now);
        EXPECT_EQ(f.FilePercent, s.FilePercent) << "row " << row;
        EXPECT_EQ(f.TotalPercent, s.TotalPercent) << "row " << row;
        EXPECT_EQ(receivedBytes, s.ReceivedBytes) << "row " << row;
        EXPECT_EQ(f.BytesPerSecond, s.BytesPerSecond) << "row " << row;
        ++row;
    }
}

TEST(ProgressFigures, BarAndPositionFigures) {
    EXPECT_EQ(ProgressFigures::BarWidth(0), 0);
    EXPECT_EQ(ProgressFigures::BarWidth(50), 199);
    EXPECT_EQ(ProgressFigures::BarWidth(100), 399);
    EXPECT_EQ(ProgressFigures::FilePosition(3, 3), 1);
    EXPECT_EQ(ProgressFigures::FilePosition(3, 1), 3);
    ProgressFigures f;
    f.BytesPerSecond = 2047;
    EXPECT_EQ(f.KilobytesPerSecond(), 1);
}

}  // namespace
}  // namespace toval
