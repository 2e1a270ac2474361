#include "ui/run_display.h"

#include "engine/CUpdateRun.h"
#include "ui/window_texts.h"

namespace toval {

PaintedFigures FiguresOf(const RunSnapshot& run) {
    PaintedFigures figures;
    figures.StatusText = run.WindowText;
    figures.FilePercent = run.FilePercent;
    figures.TotalPercent = run.TotalPercent;
    figures.KilobytesPerSecond = run.KilobytesPerSecond;
    figures.FileCount = run.FileCount;
    figures.FilePosition = static_cast<int32_t>(run.FilePosition);
    return figures;
}

PaintedFigures CurrentFigures(const CUpdateRun& run) { return FiguresOf(run.Snapshot()); }

std::string CurrentTrayTip(const CUpdateRun& run) {
    const RunSnapshot s = run.Snapshot();
    return s.ShownKind != 0 ? TransferTip(s.ShownKind, s.ShownFile, s.TotalPercent)
                            : std::string(kTrayTipIdle);
}

}  // namespace toval
