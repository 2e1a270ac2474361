#pragma once
// The tray icon: three frames that turn one step per handled progress notification, and a tip
// that says what is being fetched.

#include <QIcon>
#include <QString>
#include <QSystemTrayIcon>
#include <array>
#include <cstdint>
#include <string>

namespace toval {

// The most a tip may hold, in UTF-16 code units (the tray record kept 63 and a terminator).
constexpr int kTrayTipLimit = 63;
inline const QString kTrayTipIdle = QStringLiteral("正在自动更新");

// The tip while a transfer runs. A file transfer shows its name (without folders) and the
// overall percentage; a long name loses its beginning so that the figure always shows. The
// catalogue transfer keeps the plain tip.
QString TransferTip(int32_t kind, const std::string& fileName, int32_t totalPercent);

class TrayAnimation {
  public:
    explicit TrayAnimation(const std::array<QIcon, 3>& frames);

    // Shows the icon with frame 130 and the idle tip. Without a tray Qt waits for one to appear.
    void Add();
    // One progress notification handled: the next frame, and the tip when it changed.
    void Step(const QString& tip);
    void Remove();

    bool Added() const { return IsAdded; }
    int Frame() const { return CurrentFrame; }
    QSystemTrayIcon& Icon() { return TrayIcon; }

  private:
    std::array<QIcon, 3> Frames;
    QSystemTrayIcon TrayIcon;
    QString Tip;
    bool IsAdded = false;
    int CurrentFrame = 0;
};

}  // namespace toval
