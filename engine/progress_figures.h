#pragma once
// The figures both front ends show: file and total percentages, speed, file position.
// Pure arithmetic so that it can be table-tested; the clock is passed in.

#include <cstdint>

namespace toval {

struct ProgressFigures {
    int32_t FilePercent = 0;
    int32_t TotalPercent = 0;
    int32_t LastClock = 0;  // milliseconds of the monotonic process clock
    uint64_t LastReceived = 0;
    uint64_t BytesPerSecond = 0;

    // One handled progress notification. `chunkBytes` are the bytes it carries (added to
    // receivedBytes for a file transfer), `received` and `expected` the transfer's counters,
    // `totalBytes` the run's total, `nowMs` the clock reading.
    void OnProgress(int32_t kind, uint64_t chunkBytes, uint64_t received, uint64_t expected,
                    uint64_t& receivedBytes, uint64_t totalBytes, int32_t nowMs);

    // Bar width in pixels for a percentage: percent * 399 / 100, truncated toward zero.
    static int32_t BarWidth(int32_t percent);
    // "%dKB/秒" figure: BytesPerSecond / 1024.
    int32_t KilobytesPerSecond() const;
    // Position of the file now being fetched: fileCount - queued + 1.
    static int32_t FilePosition(uint32_t fileCount, uint32_t queued);
};

// Milliseconds since the process started, on a monotonic clock.
int32_t ProcessClockMs();

}  // namespace toval
