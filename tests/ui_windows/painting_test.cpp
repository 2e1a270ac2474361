// What the native window paints, checked on a memory canvas, and the resources it paints from.
// The program links res/toval-updater.rc, so the window finds its pictures in this executable as
// it does in the updater.

#include "ui/progress_paint_windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "tests/support/BarCases.h"
#include "tests/ui_windows/pixels.h"
#include "ui/window_layout.h"

namespace toval {
namespace {

using test::Draw;
using test::Pixels;
using test::Read;

// Where `painted` differs from `background` between columns [left, right): the rows and the
// first column, or nothing.
struct Ink {
    int Top = 1 << 20;
    int Bottom = -1;
    int Left = 1 << 20;
    bool Any() const { return Bottom >= 0; }
};

Ink InkBetween(const Pixels& painted, const Pixels& background, int left, int right) {
    Ink ink;
    for (int y = 0; y < 100; ++y) {
        for (int x = left; x < right; ++x) {
            if (painted.At(x, y) == background.At(x, y)) continue;
            ink.Top = std::min(ink.Top, y);
            ink.Bottom = std::max(ink.Bottom, y);
            ink.Left = std::min(ink.Left, x);
        }
    }
    return ink;
}

constexpr SIZE kClient{420, 250};  // a window without frame: taller than the background

TEST(WindowPainting, BarsRevealTheFillByWidthAndTheRestIsBackgroundOrBody) {
    const WindowImages images = WindowImages::Load();
    ASSERT_NE(images.Background, nullptr);
    ASSERT_NE(images.Bar, nullptr);
    const Pixels background = Read(images.Background);
    const Pixels bar = Read(images.Bar);
    ASSERT_EQ(background.Width, 421);
    ASSERT_EQ(background.Height, 222);
    ASSERT_EQ(bar.Width, 548);
    const ProgressFonts fonts;

    for (auto [percent, width] : test::kBarWidthCases) {
        SCOPED_TRACE(percent);
        const PaintedFigures figures = test::BothBarsAt(percent);
        const Pixels image = Draw(kClient.cx, kClient.cy, [&](HDC dc) {
            PaintProgress(dc, kClient, images, fonts, figures);
        });
        for (auto top : {layout::kFileBar.Y, layout::kTotalBar.Y}) {
            for (int y = top - 1; y <= top + layout::kBarHeight; ++y) {
                for (int x = 11; x < kClient.cx; ++x) {
                    const bool inBar =
                        y >= top && y < top + layout::kBarHeight && x >= 12 && x < 12 + width;
                    const uint32_t expected = inBar ? bar.At(x - 12, y - top) : background.At(x, y);
                    ASSERT_EQ(image.At(x, y), expected) << "at " << x << ", " << y;
                }
            }
        }
        EXPECT_EQ(image.At(10, 240), 0xF0F0F0u);
        EXPECT_EQ(image.At(419, 249), 0xF0F0F0u);
    }
}

TEST(WindowPainting, EachTextStartsAtItsColumnWithinTheCellOfRow67) {
    const WindowImages images = WindowImages::Load();
    const Pixels background = Read(images.Background);
    const ProgressFonts fonts;
    auto paint = [&](const PaintedFigures& figures) {
        return Draw(kClient.cx, kClient.cy,
                    [&](HDC dc) { PaintProgress(dc, kClient, images, fonts, figures); });
    };
    struct Case {
        const char* Name;
        PaintedFigures Figures;
        int Left, Right;
    };
    PaintedFigures status, speed, count;
    status.StatusText = "正在连接：maps";
    speed.KilobytesPerSecond = 1464;
    count.FilePercent = 45;
    count.FilePosition = 3;
    count.FileCount = 10;
    const Case cases[] = {
        {"status, Chinese through the linked fonts", status, layout::kStatusX, layout::kSpeedX},
        {"speed", speed, layout::kSpeedX, layout::kCountX},
        {"count", count, layout::kCountX, kClient.cx},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const Pixels image = paint(c.Figures);
        const Ink ink = InkBetween(image, background, c.Left - 5, c.Right);
        ASSERT_TRUE(ink.Any());
        EXPECT_GE(ink.Left, c.Left);
        EXPECT_LE(ink.Left, c.Left + 3);
        EXPECT_GE(ink.Top, layout::kTextRow);
        EXPECT_LE(ink.Bottom, layout::kTextRow + layout::kTextCell - 1);
        EXPECT_GE(ink.Bottom - ink.Top, 6);  // whole characters, not a stray pixel
    }

    // Chinese characters are drawn as themselves: two different ones never come out as the same
    // box a font draws for what it lacks.
    PaintedFigures first, second;
    first.StatusText = "秒";
    second.StatusText = "和";
    const Pixels a = paint(first);
    const Pixels b = paint(second);
    int differing = 0;
    for (int y = layout::kTextRow; y < layout::kTextRow + layout::kTextCell; ++y) {
        for (int x = layout::kStatusX; x < layout::kStatusX + 20; ++x)
            differing += a.At(x, y) != b.At(x, y);
    }
    EXPECT_GT(differing, 10);
}

TEST(WindowPainting, CloseSpotAndDragStripCoverTheirPixels) {
    struct Case {
        int X, Y;
        bool Close, Drag;
    };
    const Case cases[] = {
        {343, 2, true, true},    {361, 11, true, true},  {342, 5, false, true},
        {362, 5, false, true},   {350, 1, false, true},  {350, 12, false, true},
        {0, 0, false, true},     {367, 12, false, true}, {368, 5, false, false},
        {100, 13, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.X << ", " << c.Y);
        EXPECT_EQ(layout::kCloseSpot.Contains(c.X, c.Y), c.Close);
        EXPECT_EQ(layout::kDragStrip.Contains(c.X, c.Y), c.Drag);
    }
}

// The manifest the updater carries: started by a launcher without rights to spare, it must never
// ask to be raised (Windows takes a program named "…update…" without one for an installer).
TEST(ProgramResources, TheManifestAsksForTheInvokersRightsAndLongPaths) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
    const std::string manifest(bytes, SizeofResource(nullptr, found));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("<longPathAware"), std::string::npos);
}

}  // namespace
}  // namespace toval
