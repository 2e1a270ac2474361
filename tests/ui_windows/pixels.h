#pragma once
// The window tests' pixels: read back from a bitmap, or painted onto a memory canvas.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace toval::test {

// 32-bit pixels, top row first, as 0x00RRGGBB.
struct Pixels {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Values;
    uint32_t At(int x, int y) const { return Values[static_cast<size_t>(y * Width + x)]; }
};

inline BITMAPINFO TopDown32(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

inline Pixels Read(HBITMAP bitmap) {
    BITMAP header{};
    GetObjectW(bitmap, sizeof header, &header);
    Pixels pixels{header.bmWidth, header.bmHeight, {}};
    pixels.Values.resize(static_cast<size_t>(pixels.Width * pixels.Height));
    BITMAPINFO info = TopDown32(pixels.Width, pixels.Height);
    HDC screen = GetDC(nullptr);
    GetDIBits(screen, bitmap, 0, static_cast<UINT>(pixels.Height), pixels.Values.data(), &info,
              DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    for (auto& v : pixels.Values) v &= 0xFFFFFF;
    return pixels;
}

// A memory canvas that `paint` draws onto.
inline Pixels Draw(int width, int height, const std::function<void(HDC)>& paint) {
    BITMAPINFO info = TopDown32(width, height);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    const HGDIOBJ before = SelectObject(dc, bitmap);
    RECT all{0, 0, width, height};
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));  // anything left unpainted would show
    FillRect(dc, &all, magenta);
    DeleteObject(magenta);
    paint(dc);
    GdiFlush();
    SelectObject(dc, before);
    DeleteDC(dc);
    Pixels pixels = Read(bitmap);
    DeleteObject(bitmap);
    return pixels;
}

}  // namespace toval::test
