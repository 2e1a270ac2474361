#include "ui/progress_painter.h"

#include <QFontMetrics>
#include <algorithm>

#include "engine/progress_figures.h"
#include "ui/window_layout.h"
#include "ui/window_texts.h"

namespace toval {

namespace {
QPoint ToQt(layout::Point p) { return QPoint(p.X, p.Y); }

void PaintBar(QPainter& painter, layout::Point at, int32_t percent, const QPixmap& bar) {
    // A bar reveals more of the same picture as it grows; past the picture's width there is
    // nothing more to reveal.
    const int width = std::min<int32_t>(ProgressFigures::BarWidth(percent), bar.width());
    if (width <= 0) return;
    painter.drawPixmap(ToQt(at), bar, QRect(0, 0, width, layout::kBarHeight));
}

void FillBeyond(QPainter& painter, QSize client, const QPixmap& background) {
    const QColor body(layout::kBodyColour.Red, layout::kBodyColour.Green, layout::kBodyColour.Blue);
    const int w = background.width();
    const int h = background.height();
    if (client.width() > w) painter.fillRect(w, 0, client.width() - w, client.height(), body);
    if (client.height() > h)
        painter.fillRect(0, h, std::min(w, client.width()), client.height() - h, body);
}
}  // namespace

QFont ProgressFont() {
    QFont font(QStringLiteral("Arial"));
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    // The texts get a character cell (ascent plus descent) of 15 pixels. A pixel size names the
    // em, which is smaller than the cell by the face's own leading, so it is scaled to fit.
    font.setPixelSize(layout::kTextCell);
    const qreal cell = QFontMetricsF(font).height();
    if (cell > 0)
        font.setPixelSize(std::max(1, qRound(layout::kTextCell * layout::kTextCell / cell)));
    return font;
}

void PaintProgress(QPainter& painter, QSize clientSize, const QPixmap& background,
                   const QPixmap& bar, const QFont& font, const PaintedFigures& figures) {
    if (!background.isNull()) {
        const QRect source = QRect(QPoint(0, 0), clientSize).intersected(background.rect());
        painter.drawPixmap(QPoint(0, 0), background, source);
    }
    FillBeyond(painter, clientSize, background);
    if (!bar.isNull()) {
        PaintBar(painter, layout::kFileBar, figures.FilePercent, bar);
        PaintBar(painter, layout::kTotalBar, figures.TotalPercent, bar);
    }

    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.setBackgroundMode(Qt::TransparentMode);
    // The given point is the top-left of the text cell, so the baseline lies one ascent lower.
    const int baseline = layout::kTextRow + QFontMetrics(font).ascent();
    auto text = [&](int x, const std::string& utf8) {
        painter.drawText(QPoint(x, baseline), QString::fromStdString(utf8));
    };
    text(layout::kStatusX, figures.StatusText);
    text(layout::kSpeedX, SpeedText(figures.KilobytesPerSecond));
    text(layout::kCountX, CountText(figures.FilePercent, figures.FilePosition, figures.FileCount));
}

}  // namespace toval
