#include "ui/dialog_images.h"

#include <QDir>

// The resources live in a static library: without this call the linker may drop them.
static void EnsureResources() { Q_INIT_RESOURCE(resources); }

namespace toval {

DialogImages DialogImages::Load() {
    EnsureResources();
    DialogImages images;
    images.Background.load(QStringLiteral(":/toval/background_133.png"));
    images.CloseButton.load(QStringLiteral(":/toval/close_button_140.png"));
    images.Bar.load(QStringLiteral(":/toval/bar_141.png"));
    for (int size : {16, 32, 48}) {
        images.AppIcon.addFile(QStringLiteral(":/toval/app_128_%1.png").arg(size),
                               QSize(size, size));
    }
    for (int i = 0; i < 3; ++i) {
        images.TrayFrames[static_cast<size_t>(i)] =
            QIcon(QStringLiteral(":/toval/tray_%1.png").arg(130 + i));
    }
    return images;
}

}  // namespace toval
