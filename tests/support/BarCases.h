#pragma once
// The bar widths both windows must paint, by percentage: the designed arithmetic of the bars,
// checked pixel by pixel against each window's own painting.

#include <utility>

#include "ui/run_display.h"

namespace toval::test {

// {percent, width in pixels}; 120 % stands for a figure past the end, which the bar does not clip.
inline constexpr std::pair<int, int> kBarWidthCases[] = {
    {0, 0}, {1, 3}, {50, 199}, {100, 399}, {120, 478}};

// Both bars at `percent`.
inline PaintedFigures BothBarsAt(int percent) {
    PaintedFigures figures;
    figures.FilePercent = percent;
    figures.TotalPercent = percent;
    return figures;
}

}  // namespace toval::test
