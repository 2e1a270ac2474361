// The painted display, checked pixel by pixel against the pictures and against text drawn by
// the same font at their places.

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include "tests/support/BarCases.h"
#include "tests/ui/ui_test_app.h"
#include "ui/dialog_images.h"
#include "ui/progress_painter.h"

namespace toval {
namespace {

constexpr QSize kClient{420, 250};  // a window without frame: taller than the background

QImage Paint(const PaintedFigures& figures) {
    const DialogImages images = DialogImages::Load();
    QImage image(kClient, QImage::Format_RGB32);
    image.fill(Qt::magenta);  // anything left unpainted would show
    QPainter painter(&image);
    PaintProgress(painter, kClient, images.Background, images.Bar, ProgressFont(), figures);
    return image;
}

// The background with only `text` drawn at `x` on the text row: what a correct paint shows there.
QImage Reference(const QString& text, int x) {
    QImage image = Paint(PaintedFigures{});
    // Blank the three texts of the empty paint by repainting the background over them.
    const QImage background = DialogImages::Load().Background.toImage();
    QPainter painter(&image);
    painter.drawImage(QPoint(0, 0), background, QRect(0, 0, 420, 100));
    painter.setFont(ProgressFont());
    painter.setPen(Qt::black);
    painter.drawText(QPoint(x, 67 + QFontMetrics(ProgressFont()).ascent()), text);
    return image;
}

bool SameColumns(const QImage& a, const QImage& b, int left, int right) {
    for (int y = 55; y < 100; ++y) {
        for (int x = left; x < right; ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) return false;
        }
    }
    return true;
}

TEST(Painting, BarsRevealTheFillByWidth) {
    REQUIRE_TEST_APPLICATION();
    const DialogImages images = DialogImages::Load();
    const QImage bar = images.Bar.toImage().convertToFormat(QImage::Format_RGB32);
    const QImage background = images.Background.toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(bar.size(), QSize(548, 22));
    ASSERT_EQ(background.size(), QSize(421, 222));

    for (auto [percent, width] : test::kBarWidthCases) {
        SCOPED_TRACE(percent);
        const QImage image = Paint(test::BothBarsAt(percent));
        for (int top : {104, 156}) {
            for (int y = top - 1; y <= top + 21; ++y) {
                for (int x = 11; x < kClient.width(); ++x) {
                    const bool inBar = y >= top && y < top + 21 && x >= 12 && x < 12 + width;
                    const QRgb expected =
                        inBar ? bar.pixel(x - 12, y - top) : background.pixel(x, y);
                    ASSERT_EQ(image.pixel(x, y), expected) << "at " << x << ", " << y;
                }
            }
        }
    }
}

TEST(Painting, TextsStandAtTheirPlaces) {
    REQUIRE_TEST_APPLICATION();
    struct Case {
        PaintedFigures Figures;
        QString Expected;
        int Left, Right;
    };
    auto count = [](int percent, int position, uint32_t files) {
        PaintedFigures f;
        f.FilePercent = percent;
        f.FilePosition = position;
        f.FileCount = files;
        return f;
    };
    auto speed = [](int kb) {
        PaintedFigures f;
        f.KilobytesPerSecond = kb;
        return f;
    };
    const Case cases[] = {
        {count(0, 0, 0), QStringLiteral("0% (0/0)"), 295, 420},
        {count(45, 3, 10), QStringLiteral("45% (3/10)"), 295, 420},
        {speed(0), QStringLiteral("0KB/秒"), 185, 295},  // 1023 bytes per second
        {speed(1), QStringLiteral("1KB/秒"), 185, 295},  // 1536 bytes per second
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Expected.toStdString());
        const int x = c.Left == 295 ? 300 : 190;
        EXPECT_TRUE(SameColumns(Paint(c.Figures), Reference(c.Expected, x), c.Left, c.Right));
    }
}

TEST(Painting, StatusTextCellStartsAtRow67AndIsNotClipped) {
    REQUIRE_TEST_APPLICATION();
    PaintedFigures figures;
    figures.StatusText = "正在连接：Toval更新服务器 and a long tail that runs on";
    const QImage image = Paint(figures);
    const QImage blank = Reference(QString(), 0);
    int top = 1000, bottom = -1, right = -1;
    for (int y = 55; y < 100; ++y) {
        for (int x = 70; x < 420; ++x) {
            if (image.pixel(x, y) != blank.pixel(x, y) && x < 190) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
            if (image.pixel(x, y) != blank.pixel(x, y)) right = std::max(right, x);
        }
    }
    EXPECT_GE(top, 67);
    EXPECT_LE(top, 71);
    EXPECT_LE(bottom, 81);  // the 15-pixel cell, rows 67 to 81
    EXPECT_GT(right, 300);  // runs under the speed and count texts
}

TEST(Painting, AreaBeyondTheBackgroundGetsTheBodyColour) {
    REQUIRE_TEST_APPLICATION();
    const QImage image = Paint(PaintedFigures{});
    EXPECT_EQ(image.pixel(10, 240), qRgb(240, 240, 240));
    EXPECT_EQ(image.pixel(419, 249), qRgb(240, 240, 240));
}

}  // namespace
}  // namespace toval
