#include "ui/tray_animation.h"

namespace toval {

namespace {
// Counts the frames of every tray icon of the process. Kept reduced modulo 3 so that a very long
// run never overflows it; the frames come out in the same order.
int TrayFrameCounter = 0;

QString BaseName(const std::string& path) {
    const auto cut = path.find_last_of("/\\");
    return QString::fromStdString(cut == std::string::npos ? path : path.substr(cut + 1));
}
}  // namespace

QString TransferTip(int32_t kind, const std::string& fileName, int32_t totalPercent) {
    if (kind != 2) return kTrayTipIdle;
    const QString head = kTrayTipIdle + QStringLiteral(": ");
    const QString tail = QStringLiteral(" %1%").arg(totalPercent);
    QString name = BaseName(fileName);
    const int room = kTrayTipLimit - static_cast<int>(head.size() + tail.size());
    if (name.size() > room) {
        int keep = room - 1;  // one unit for the ellipsis
        int from = static_cast<int>(name.size()) - keep;
        // Never start inside a surrogate pair.
        if (from > 0 && name.at(from).isLowSurrogate()) ++from;
        name = QStringLiteral("…") + name.mid(from);
    }
    return head + name + tail;
}

TrayAnimation::TrayAnimation(const std::array<QIcon, 3>& frames) : Frames(frames) {}

void TrayAnimation::Add() {
    if (IsAdded) return;
    CurrentFrame = 0;
    Tip = kTrayTipIdle;
    TrayIcon.setIcon(Frames[0]);
    TrayIcon.setToolTip(Tip);
    TrayIcon.show();
    IsAdded = true;
}

void TrayAnimation::Step(const QString& tip) {
    if (!IsAdded) return;
    TrayFrameCounter = (TrayFrameCounter + 1) % 3;
    CurrentFrame = TrayFrameCounter;
    TrayIcon.setIcon(Frames[static_cast<size_t>(CurrentFrame)]);
    const QString limited = tip.left(kTrayTipLimit);
    if (limited != Tip) {
        Tip = limited;
        TrayIcon.setToolTip(Tip);
    }
}

void TrayAnimation::Remove() {
    if (!IsAdded) return;
    TrayIcon.hide();
    IsAdded = false;
}

}  // namespace toval
