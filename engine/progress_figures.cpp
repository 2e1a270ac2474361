#include "engine/progress_figures.h"

#include <chrono>

namespace toval {

namespace {
// Taken when the program is loaded, so the clock counts from the start of the process.
const auto kProcessStart = std::chrono::steady_clock::now();
}  // namespace

void ProgressFigures::OnProgress(int32_t kind, uint64_t chunkBytes, uint64_t received,
                                 uint64_t expected, uint64_t& receivedBytes, uint64_t totalBytes,
                                 int32_t nowMs) {
    if (expected != 0) FilePercent = static_cast<int32_t>(received * 100 / expected);
    if (kind != 2) return;
    receivedBytes += chunkBytes;
    if (totalBytes == 0) return;
    TotalPercent = static_cast<int32_t>(receivedBytes * 100 / totalBytes);
    const int32_t elapsed =
        static_cast<int32_t>(static_cast<uint32_t>(nowMs) - static_cast<uint32_t>(LastClock));
    LastClock = nowMs;
    if (elapsed > 0) {
        BytesPerSecond = (receivedBytes - LastReceived) * 1000 / static_cast<uint64_t>(elapsed);
        LastReceived = receivedBytes;
    }
}

int32_t ProgressFigures::BarWidth(int32_t percent) {
    return static_cast<int32_t>(static_cast<int64_t>(percent) * 399 / 100);
}

int32_t ProgressFigures::KilobytesPerSecond() const {
    return static_cast<int32_t>(BytesPerSecond / 1024);
}

int32_t ProgressFigures::FilePosition(uint32_t fileCount, uint32_t queued) {
    return static_cast<int32_t>(fileCount - queued + 1);
}

int32_t ProcessClockMs() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - kProcessStart);
    return static_cast<int32_t>(ms.count());
}

}  // namespace toval
