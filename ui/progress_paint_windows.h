#pragma once
// The native window's pictures, font and painting with GDI: background, the two bars, then the
// three texts on row 67, at the same places and from the same pictures as the Qt window.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <array>
#include <string>

#include "ui/run_display.h"

namespace toval {

// The resource numbers of the pictures and icons (res/toval-updater.rc).
inline constexpr int kAppIconId = 128;
inline constexpr int kTrayIconIds[3] = {130, 131, 132};
inline constexpr int kBackgroundId = 133;
inline constexpr int kBarId = 141;

// Loaded from the resources of the program's own module; a missing picture stays null and its
// part of the display is simply not drawn.
struct WindowImages {
    HBITMAP Background = nullptr;  // 133: the whole static display
    HBITMAP Bar = nullptr;         // 141: the fill both bars reveal by width
    HICON AppIcon = nullptr;       // 128 at the system's big and small sizes
    HICON AppIconSmall = nullptr;
    std::array<HICON, 3> TrayFrames{};  // 130, 131, 132 at the small size

    static WindowImages Load();

    WindowImages() = default;
    WindowImages(WindowImages&& other) noexcept;
    WindowImages& operator=(WindowImages&& other) noexcept;
    ~WindowImages();

  private:
    void Release();
};

// "Arial" with a 15-pixel character cell, normal weight, and beside it a Chinese face of the
// same cell for the characters Arial lacks ("秒", the status texts). GDI links fonts only where
// the system's font links or its Chinese locale say so; this way the texts read the same on any
// system, and under Wine.
class ProgressFonts {
  public:
    ProgressFonts();
    ~ProgressFonts();
    ProgressFonts(const ProgressFonts&) = delete;
    ProgressFonts& operator=(const ProgressFonts&) = delete;

    HFONT Main() const { return Arial; }
    HFONT Fallback() const { return Chinese; }

  private:
    HFONT Arial = nullptr;
    HFONT Chinese = nullptr;
};

// Draws onto `dc`, whose area is the client area of `client`. Nothing is erased first: the
// background covers the area, and any part beyond the picture gets the body colour.
void PaintProgress(HDC dc, SIZE client, const WindowImages& images, const ProgressFonts& fonts,
                   const PaintedFigures& figures);

}  // namespace toval
