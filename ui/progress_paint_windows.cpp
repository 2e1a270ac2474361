#include "ui/progress_paint_windows.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "engine/progress_figures.h"
#include "platform/wide_text.h"
#include "ui/window_layout.h"
#include "ui/window_texts.h"

namespace toval {

namespace {
SIZE BitmapSize(HBITMAP bitmap) {
    BITMAP info{};
    if (!bitmap || !GetObjectW(bitmap, sizeof info, &info)) return SIZE{0, 0};
    return SIZE{info.bmWidth, info.bmHeight};
}

HICON LoadIconSized(HMODULE module, int id, int systemSize) {
    const int size = GetSystemMetrics(systemSize);
    return static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

void FillBody(HDC dc, int left, int top, int right, int bottom) {
    if (right <= left || bottom <= top) return;
    const RECT area{left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(
        RGB(layout::kBodyColour.Red, layout::kBodyColour.Green, layout::kBodyColour.Blue));
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

void PaintBar(HDC dc, HDC source, SIZE bar, layout::Point at, int32_t percent) {
    // A bar reveals more of the same picture as it grows; past the picture's width there is
    // nothing more to reveal.
    const int width = std::min<int32_t>(ProgressFigures::BarWidth(percent), bar.cx);
    if (width <= 0) return;
    BitBlt(dc, at.X, at.Y, width, layout::kBarHeight, source, 0, 0, SRCCOPY);
}

// Draws `utf8` with its cell's top-left at (x, the text row): runs of characters the main font
// has in it, the others in the fallback, one after the other.
void Text(HDC dc, int x, const std::string& utf8, const ProgressFonts& fonts) {
    const std::wstring text = Widen(utf8);
    const int length = static_cast<int>(text.size());
    if (length == 0) return;
    if (fonts.Main()) SelectObject(dc, fonts.Main());
    std::vector<WORD> glyphs(text.size());
    if (!fonts.Main() || !fonts.Fallback() ||
        GetGlyphIndicesW(dc, text.data(), length, glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS) ==
            GDI_ERROR) {
        TextOutW(dc, x, layout::kTextRow, text.data(), length);
        return;
    }
    constexpr WORD kMissing = 0xFFFF;
    for (int start = 0; start < length;) {
        const bool missing = glyphs[static_cast<size_t>(start)] == kMissing;
        int end = start + 1;
        while (end < length && (glyphs[static_cast<size_t>(end)] == kMissing) == missing) ++end;
        SelectObject(dc, missing ? fonts.Fallback() : fonts.Main());
        TextOutW(dc, x, layout::kTextRow, text.data() + start, end - start);
        SIZE extent{};
        GetTextExtentPoint32W(dc, text.data() + start, end - start, &extent);
        x += extent.cx;
        start = end;
    }
}
}  // namespace

WindowImages WindowImages::Load() {
    // The pictures live in the program that links res/toval-updater.rc, not in a library.
    HMODULE module = GetModuleHandleW(nullptr);
    WindowImages images;
    images.Background = static_cast<HBITMAP>(LoadImageW(module, MAKEINTRESOURCEW(kBackgroundId),
                                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    images.Bar = static_cast<HBITMAP>(
        LoadImageW(module, MAKEINTRESOURCEW(kBarId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    images.AppIcon = LoadIconSized(module, kAppIconId, SM_CXICON);
    images.AppIconSmall = LoadIconSized(module, kAppIconId, SM_CXSMICON);
    for (size_t i = 0; i < images.TrayFrames.size(); ++i)
        images.TrayFrames[i] = LoadIconSized(module, kTrayIconIds[i], SM_CXSMICON);
    return images;
}

WindowImages::WindowImages(WindowImages&& other) noexcept { *this = std::move(other); }

WindowImages& WindowImages::operator=(WindowImages&& other) noexcept {
    if (this != &other) {
        Release();
        Background = std::exchange(other.Background, nullptr);
        Bar = std::exchange(other.Bar, nullptr);
        AppIcon = std::exchange(other.AppIcon, nullptr);
        AppIconSmall = std::exchange(other.AppIconSmall, nullptr);
        TrayFrames = std::exchange(other.TrayFrames, {});
    }
    return *this;
}

WindowImages::~WindowImages() { Release(); }

void WindowImages::Release() {
    for (HBITMAP bitmap : {Background, Bar}) {
        if (bitmap) DeleteObject(bitmap);
    }
    for (HICON icon : {AppIcon, AppIconSmall}) {
        if (icon) DestroyIcon(icon);
    }
    for (HICON icon : TrayFrames) {
        if (icon) DestroyIcon(icon);
    }
    Background = Bar = nullptr;
    AppIcon = AppIconSmall = nullptr;
    TrayFrames = {};
}

ProgressFonts::ProgressFonts() {
    // A positive height asks for the cell (ascent plus descent), not the em.
    Arial = CreateFontW(layout::kTextCell, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        FF_SWISS | DEFAULT_PITCH, L"Arial");
    // No face named: the font mapper picks whichever installed face covers the Chinese set.
    Chinese = CreateFontW(layout::kTextCell, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                          GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          FF_SWISS | DEFAULT_PITCH, L"");
}

ProgressFonts::~ProgressFonts() {
    for (HFONT font : {Arial, Chinese}) {
        if (font) DeleteObject(font);
    }
}

void PaintProgress(HDC dc, SIZE client, const WindowImages& images, const ProgressFonts& fonts,
                   const PaintedFigures& figures) {
    HDC source = CreateCompatibleDC(dc);
    const HGDIOBJ sourceBefore = GetCurrentObject(source, OBJ_BITMAP);
    const SIZE background = BitmapSize(images.Background);
    if (images.Background) {
        SelectObject(source, images.Background);
        BitBlt(dc, 0, 0, std::min(client.cx, background.cx), std::min(client.cy, background.cy),
               source, 0, 0, SRCCOPY);
    }
    FillBody(dc, background.cx, 0, client.cx, client.cy);
    FillBody(dc, 0, background.cy, std::min(background.cx, client.cx), client.cy);
    if (images.Bar) {
        const SIZE bar = BitmapSize(images.Bar);
        SelectObject(source, images.Bar);
        PaintBar(dc, source, bar, layout::kFileBar, figures.FilePercent);
        PaintBar(dc, source, bar, layout::kTotalBar, figures.TotalPercent);
    }
    SelectObject(source, sourceBefore);
    DeleteDC(source);

    const HGDIOBJ fontBefore = GetCurrentObject(dc, OBJ_FONT);
    const int modeBefore = SetBkMode(dc, TRANSPARENT);
    const COLORREF colourBefore = SetTextColor(dc, RGB(0, 0, 0));
    const UINT alignBefore = SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
    Text(dc, layout::kStatusX, figures.StatusText, fonts);
    Text(dc, layout::kSpeedX, SpeedText(figures.KilobytesPerSecond), fonts);
    Text(dc, layout::kCountX,
         CountText(figures.FilePercent, figures.FilePosition, figures.FileCount), fonts);
    SetTextAlign(dc, alignBefore);
    SetTextColor(dc, colourBefore);
    SetBkMode(dc, modeBefore);
    SelectObject(dc, fontBefore);
}

}  // namespace toval
