#include "platform/xcb_connection.h"

#include <cstdlib>
#include <cstring>

namespace toval {

XcbConnection::XcbConnection(const char* display)
    : Connection(xcb_connect(display, &ScreenNumber)) {}

XcbConnection::~XcbConnection() {
    // xcb_connect never returns null: even a failed connection is an object to free.
    if (Connection) xcb_disconnect(Connection);
}

bool XcbConnection::Ok() const { return Connection && xcb_connection_has_error(Connection) == 0; }

xcb_screen_t* XcbConnection::DefaultScreen() const {
    if (!Ok()) return nullptr;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(Connection));
    for (int i = 0; it.rem > 0; ++i, xcb_screen_next(&it)) {
        if (i == ScreenNumber) return it.data;
    }
    return nullptr;
}

xcb_atom_t XcbConnection::InternAtom(const char* name) const {
    if (!Ok()) return XCB_ATOM_NONE;
    const auto cookie =
        xcb_intern_atom(Connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(Connection, cookie, nullptr);
    if (!reply) return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

bool CanOpenDisplay() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    XcbConnection connection(display);
    return connection.DefaultScreen() != nullptr;
}

}  // namespace toval
