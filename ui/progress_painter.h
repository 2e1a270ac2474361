#pragma once
// Paints the progress display: background, the two bars, then the three texts on row 67.
// Kept apart from the window so that it can be drawn into an image at chosen figures.

#include <QFont>
#include <QPainter>
#include <QPixmap>

#include "ui/run_display.h"

namespace toval {

// "Arial" with a 15-pixel character cell, normal weight; Chinese falls back to the system's
// CJK font.
QFont ProgressFont();

// Draws onto `painter` whose device is the client area of `clientSize`. Nothing is erased
// first: the background covers the area, and any part beyond the picture (a window without
// frame is taller than the picture) gets the body colour instead of stale pixels.
void PaintProgress(QPainter& painter, QSize clientSize, const QPixmap& background,
                   const QPixmap& bar, const QFont& font, const PaintedFigures& figures);

}  // namespace toval
