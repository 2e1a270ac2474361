#pragma once
// The tray icon: three frames that turn one step per handled progress notification, and a tip
// that says what is being fetched.

#include <QIcon>
#include <QString>
#include <QSystemTrayIcon>
#include <array>

namespace toval {

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
