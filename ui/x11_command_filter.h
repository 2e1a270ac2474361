#pragma once
// Commands from other programs: an X11 client message of type "WM_COMMAND" sent to our window,
// with the command id in its first 32-bit value, reaches the run as a window command would.

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <functional>

namespace toval {

class X11CommandFilter : public QAbstractNativeEventFilter {
  public:
    // `window` names the window whose messages count; `command` receives each id on the GUI
    // thread, from inside the event dispatch (it should only queue work).
    X11CommandFilter(std::function<uint32_t()> window, std::function<void(uint32_t)> command);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    std::function<uint32_t()> Window;
    std::function<void(uint32_t)> Command;
};

}  // namespace toval
