#pragma once
// What the tests look for on the X server, asked through a connection of their own: docked tray
// icons, windows by title and where they are, client messages to a window of ours, synthetic
// clicks, and the real pointer.

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

// The top-level window whose _NET_WM_NAME is `title`, inside its frame when a window manager
// framed it; 0 when there is none.
xcb_window_t FindTopLevel(const std::string& display, const std::string& title);

// A place on the screen, in the root window's coordinates.
struct ScreenPoint {
    int X = 0;
    int Y = 0;
    friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
    ScreenPoint operator+(const ScreenPoint& o) const { return {X + o.X, Y + o.Y}; }
};

// Where `window`'s own area begins on the screen (inside a frame, if it has one).
std::optional<ScreenPoint> Origin(const std::string& display, xcb_window_t window);

// Asks for `window` to be placed at `at`, as any other program may; a window manager decides
// where it really goes.
bool MoveWindow(const std::string& display, xcb_window_t window, ScreenPoint at);

// Asks the window manager to minimise `window`, as a taskbar does.
bool RequestIconify(const std::string& display, xcb_window_t window);

// True when `window` is viewable and not iconic (as a window manager marks it in WM_STATE).
bool ShownNormally(const std::string& display, xcb_window_t window);

// True when `window` carries the property `name`.
bool HasWindowProperty(const std::string& display, xcb_window_t window, const char* name);

// A left click (press and release) at `x`, `y` in `window`'s coordinates, sent to the client
// that owns the window as the X server would deliver it.
bool SendClick(const std::string& display, xcb_window_t window, int x, int y);

// A "WM_COMMAND" client message carrying `id`, as another program would send it.
bool SendCommand(const std::string& display, xcb_window_t window, uint32_t id);

// The X server's own pointer, moved and pressed through XTest: the server makes of it the same
// events, implicit grabs and all, as of a mouse.
class RealPointer {
  public:
    explicit RealPointer(const std::string& display);
    bool Ok() const;  // the server has XTest
    // Moves in `steps` even steps from where the pointer is, as a hand does, so that each step
    // is a motion event of its own.
    void MoveTo(ScreenPoint to, int steps = 1);
    void Press();
    void Release();

  private:
    void Fake(uint8_t type, uint8_t detail, ScreenPoint at = {});
    XcbConnection Connection;
    xcb_window_t Root = 0;
    ScreenPoint At;
};

// Notices when a window is unmapped (as a minimised one is), through a connection of the test's
// own that listens from construction on.
class UnmapWatch {
  public:
    UnmapWatch(const std::string& display, xcb_window_t window);
    // True once the window was unmapped, waiting at most `limit`.
    bool Seen(std::chrono::milliseconds limit);

  private:
    XcbConnection Connection;
    xcb_window_t Window;
};

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
