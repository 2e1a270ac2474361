#include "ui/tray_animation.h"

#include "ui/run_display.h"
#include "ui/window_texts.h"

namespace toval {

TrayAnimation::TrayAnimation(const std::array<QIcon, 3>& frames) : Frames(frames) {}

void TrayAnimation::Add() {
    if (IsAdded) return;
    CurrentFrame = 0;
    Tip = QString::fromUtf8(kTrayTipIdle.data(), static_cast<qsizetype>(kTrayTipIdle.size()));
    TrayIcon.setIcon(Frames[0]);
    TrayIcon.setToolTip(Tip);
    TrayIcon.show();
    IsAdded = true;
}

void TrayAnimation::Step(const QString& tip) {
    if (!IsAdded) return;
    CurrentFrame = NextTrayFrame();
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
