#pragma once
// What the tests look for on the X server, asked through a connection of their own: docked tray
// icons, windows by title, client messages to a window of ours, synthetic clicks.

#include <xcb/xcb.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/xcb_connection.h"

namespace toval::test {

// Icons docked in the tray: windows of some client with a WM_CLASS that have been reparented
// away from the root (there is no window manager on the test server, so nothing else is).
int DockedTrayIcons(const std::string& display);

// The top-level window whose _NET_WM_NAME is `title`; 0 when there is none.
xcb_window_t FindTopLevel(const std::string& display, const std::string& title);

// True when `window` carries the property `name`.
bool HasWindowProperty(const std::string& display, xcb_window_t window, const char* name);

// A left click (press and release) at `x`, `y` in `window`'s coordinates, sent to the client
// that owns the window as the X server would deliver it.
bool SendClick(const std::string& display, xcb_window_t window, int x, int y);

// A "WM_COMMAND" client message carrying `id`, as another program would send it.
bool SendCommand(const std::string& display, xcb_window_t window, uint32_t id);

// A window of the test that collects client messages sent to it.
class MessageWindow {
  public:
    explicit MessageWindow(const std::string& display);
    xcb_window_t Id() const { return Window; }
    // The data of the next client message of type `atom`, waiting at most `limit` (0: only what
    // has already arrived).
    std::optional<std::array<uint32_t, 5>> Next(const char* atom, std::chrono::milliseconds limit);

  private:
    XcbConnection Connection;
    xcb_window_t Window = 0;
};

}  // namespace toval::test
