#pragma once
// The window's pictures, compiled in from res/: background, bar fill, close-button frames, the
// application icon and the three frames of the tray icon.

#include <QIcon>
#include <QPixmap>
#include <array>

namespace toval {

struct DialogImages {
    QPixmap Background;               // 133: the whole static display
    QPixmap CloseButton;              // 140: four 26 x 19 frames; loaded, not painted
    QPixmap Bar;                      // 141: the fill both bars reveal by width
    QIcon AppIcon;                    // 128: 16, 32 and 48 pixels
    std::array<QIcon, 3> TrayFrames;  // 130, 131, 132

    // Needs a QGuiApplication. A missing picture stays null and its part is simply not drawn.
    static DialogImages Load();
};

}  // namespace toval
