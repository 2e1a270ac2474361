#pragma once
// Paints the progress display: background, the two bars, then the three texts on row 67.
// Kept apart from the window so that it can be drawn into an image at chosen figures.

#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QString>
#include <cstdint>

namespace toval {

struct PaintedFigures {
    QString StatusText;
    int32_t FilePercent = 0;
    int32_t TotalPercent = 0;
    int32_t KilobytesPerSecond = 0;
    int32_t FilePosition = 0;
    uint32_t FileCount = 0;
};

// "Arial" with a 15-pixel character cell, normal weight; Chinese falls back to the system's
// CJK font.
QFont ProgressFont();

QString SpeedText(int32_t kilobytesPerSecond);                             // "%dKB/秒"
QString CountText(int32_t percent, int32_t position, uint32_t fileCount);  // "%d% (%d/%d)"

// Draws onto `painter` whose device is the client area of `clientSize`. Nothing is erased
// first: the background covers the area, and any part beyond the picture (a window without
// frame is taller than the picture) gets the body colour instead of stale pixels.
void PaintProgress(QPainter& painter, QSize clientSize, const QPixmap& background,
                   const QPixmap& bar, const QFont& font, const PaintedFigures& figures);

}  // namespace toval
