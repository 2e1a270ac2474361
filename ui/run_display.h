#pragma once
// What the progress window shows of a run, worked out once for both windows: the painted
// figures, the tray tip, the tray frame and the commands other programs may send. Free of both
// Qt and <windows.h>, so that either window may include it first.

#include <cstdint>
#include <string>

namespace toval {

class CUpdateRun;
struct RunSnapshot;

struct PaintedFigures {
    std::string StatusText;
    int32_t FilePercent = 0;
    int32_t TotalPercent = 0;
    int32_t KilobytesPerSecond = 0;
    int32_t FilePosition = 0;
    uint32_t FileCount = 0;
};

// What the next paint shows.
PaintedFigures FiguresOf(const RunSnapshot& run);
PaintedFigures CurrentFigures(const CUpdateRun& run);
// The tray tip for the transfer now shown: its file and the overall figure, or the plain tip.
std::string CurrentTrayTip(const CUpdateRun& run);

// The tray frame (0, 1, 2 for icons 130, 131, 132) after one more handled notification. One
// counter serves every tray icon of the process; it is kept reduced modulo 3 so that a very long
// run never overflows it.
inline int NextTrayFrame() {
    static int counter = 0;
    counter = (counter + 1) % 3;
    return counter;
}

// The id a WM_COMMAND parameter carries: its low word for a menu (high word 0) or an
// accelerator (1); 0 for anything else, which no command uses.
constexpr uint32_t WindowCommandId(uint32_t wParam) {
    return (wParam >> 16) <= 1 ? (wParam & 0xFFFFu) : 0;
}

}  // namespace toval
