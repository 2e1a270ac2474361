#include "ui/progress_painter.h"

#include <QFontMetrics>
#include <algorithm>

#include "engine/progress_figures.h"

namespace toval {

namespace {
constexpr int kTextRow = 67;  // top of the text cell
constexpr int kTextCell = 15;
constexpr int kStatusX = 75;
constexpr int kSpeedX = 190;
constexpr int kCountX = 300;
constexpr QPoint kFileBar{12, 104};
constexpr QPoint kTotalBar{12, 156};
constexpr int kBarHeight = 21;

void PaintBar(QPainter& painter, QPoint at, int32_t percent, const QPixmap& bar) {
    // A bar reveals more of the same picture as it grows; past the picture's width there is
    // nothing more to reveal.
    const int width = std::min<int32_t>(ProgressFigures::BarWidth(percent), bar.width());
    if (width <= 0) return;
    painter.drawPixmap(at, bar, QRect(0, 0, width, kBarHeight));
}

// The body colour of the background picture, for whatever of the client area lies beyond it.
const QColor kBodyColour(240, 240, 240);

void FillBeyond(QPainter& painter, QSize client, const QPixmap& background) {
    const int w = background.width();
    const int h = background.height();
    if (client.width() > w)
        painter.fillRect(w, 0, client.width() - w, client.height(), kBodyColour);
    if (client.height() > h)
        painter.fillRect(0, h, std::min(w, client.width()), client.height() - h, kBodyColour);
}
}  // namespace

QFont ProgressFont() {
    QFont font(QStringLiteral("Arial"));
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    // The texts get a character cell (ascent plus descent) of 15 pixels. A pixel size names the
    // em, which is smaller than the cell by the face's own leading, so it is scaled to fit.
    font.setPixelSize(kTextCell);
    const qreal cell = QFontMetricsF(font).height();
    if (cell > 0) font.setPixelSize(std::max(1, qRound(kTextCell * kTextCell / cell)));
    return font;
}

QString SpeedText(int32_t kilobytesPerSecond) {
    return QStringLiteral("%1KB/秒").arg(kilobytesPerSecond);
}

QString CountText(int32_t percent, int32_t position, uint32_t fileCount) {
    // The file count is shown as a signed number, as the figures are.
    return QStringLiteral("%1% (%2/%3)")
        .arg(percent)
        .arg(position)
        .arg(static_cast<int32_t>(fileCount));
}

void PaintProgress(QPainter& painter, QSize clientSize, const QPixmap& background,
                   const QPixmap& bar, const QFont& font, const PaintedFigures& figures) {
    if (!background.isNull()) {
        const QRect source = QRect(QPoint(0, 0), clientSize).intersected(background.rect());
        painter.drawPixmap(QPoint(0, 0), background, source);
    }
    FillBeyond(painter, clientSize, background);
    if (!bar.isNull()) {
        PaintBar(painter, kFileBar, figures.FilePercent, bar);
        PaintBar(painter, kTotalBar, figures.TotalPercent, bar);
    }

    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.setBackgroundMode(Qt::TransparentMode);
    // The given point is the top-left of the text cell, so the baseline lies one ascent lower.
    const int baseline = kTextRow + QFontMetrics(font).ascent();
    painter.drawText(QPoint(kStatusX, baseline), figures.StatusText);
    painter.drawText(QPoint(kSpeedX, baseline), SpeedText(figures.KilobytesPerSecond));
    painter.drawText(QPoint(kCountX, baseline),
                     CountText(figures.FilePercent, figures.FilePosition, figures.FileCount));
}

}  // namespace toval
