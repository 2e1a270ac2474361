#pragma once
// Owns one libxcb connection: opened on construction, closed on destruction.

#include <xcb/xcb.h>

namespace toval {

class XcbConnection {
  public:
    // `display` null means $DISPLAY. A connection that failed is still an object: Ok() says so.
    explicit XcbConnection(const char* display = nullptr);
    ~XcbConnection();
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    bool Ok() const;
    xcb_connection_t* get() const { return Connection; }
    // The screen xcb_connect chose (the display's default), null when not connected.
    xcb_screen_t* DefaultScreen() const;
    // The atom named `name`, created when missing; XCB_ATOM_NONE on failure.
    xcb_atom_t InternAtom(const char* name) const;

  private:
    xcb_connection_t* Connection = nullptr;
    int ScreenNumber = 0;
};

// True when $DISPLAY names an X server that accepts our connection. The window front end asks
// this before handing control to Qt, which aborts the process when it cannot open its display.
bool CanOpenDisplay();

}  // namespace toval
