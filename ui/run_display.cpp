#include "ui/run_display.h"

#include "engine/CUpdateRun.h"
#include "ui/window_texts.h"

namespace toval {

PaintedFigures CurrentFigures(const CUpdateRun& run) {
    PaintedFigures figures;
    figures.StatusText = run.StatusText;
    figures.FilePercent = run.Figures.FilePercent;
    figures.TotalPercent = run.Figures.TotalPercent;
    figures.KilobytesPerSecond = run.Figures.KilobytesPerSecond();
    figures.FileCount = run.FileCount;
    figures.FilePosition = ProgressFigures::FilePosition(run.FileCount, run.DownloadQueue.Count());
    return figures;
}

std::string CurrentTrayTip(const CUpdateRun& run) {
    const QueuedTransfer* front = run.ActiveTransfer();
    return front ? TransferTip(front->Kind, front->FileName(), run.Figures.TotalPercent)
                 : std::string(kTrayTipIdle);
}

}  // namespace toval
