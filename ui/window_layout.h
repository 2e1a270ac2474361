#pragma once
// Where everything of the progress window stands, in pixels of its client area (which are the
// pixels of the background picture). Both windows, the Qt one and the native Win32 one, draw and
// hit-test from these figures alone.

#include <cstdint>

namespace toval::layout {

struct Point {
    int X;
    int Y;
};

struct Size {
    int Width;
    int Height;
};

// Left and top inside, right and bottom outside: a point on the right or bottom edge is out.
struct Rect {
    int Left;
    int Top;
    int Right;
    int Bottom;

    constexpr bool Contains(int x, int y) const {
        return x >= Left && x < Right && y >= Top && y < Bottom;
    }
};

struct Rgb {
    uint8_t Red;
    uint8_t Green;
    uint8_t Blue;
};

// The three texts share one row; each is drawn with its text cell's top-left at its x and the
// row, and none is measured or clipped.
inline constexpr int kTextRow = 67;
inline constexpr int kTextCell = 15;  // ascent plus descent of the font, in pixels
inline constexpr int kStatusX = 75;
inline constexpr int kSpeedX = 190;
inline constexpr int kCountX = 300;

// The bars lie in the inner rows of their troughs in the background; their width comes from
// ProgressFigures::BarWidth, so a full bar runs two columns past the trough.
inline constexpr Point kFileBar{12, 104};
inline constexpr Point kTotalBar{12, 156};
inline constexpr int kBarHeight = 21;

// Whatever of the client area lies beyond the background picture gets the body's colour.
inline constexpr Rgb kBodyColour{240, 240, 240};

// A click here (press and release on it, the pointer still in between) ends the process at once.
inline constexpr Rect kCloseSpot{343, 2, 362, 12};
// The pointer held down anywhere in the window and moved here drags the window from then on
// (ui/pointer_rules.h).
inline constexpr Rect kDragStrip{0, 0, 368, 13};

// The window's outer size, frame and caption included, and its place on the screen: far right of
// any ordinary screen, so that the player sees only the tray icon and the taskbar button.
inline constexpr Size kOuterSize{420, 250};
inline constexpr Point kPosition{10000, 0};

}  // namespace toval::layout
