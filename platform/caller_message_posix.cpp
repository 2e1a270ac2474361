#include "platform/caller_message.h"

#include <cstdlib>

#include "platform/xcb_connection.h"

namespace toval {

namespace {
// Destinations that SendEvent reads as "the window under the pointer" and "the focus window":
// a caller handle of 0 or 1 would hand our result to some unrelated program.
constexpr uint32_t kPointerWindow = 0;
constexpr uint32_t kInputFocus = 1;
}  // namespace

bool SendUpdateResultMessage(uint32_t callerWindow, uint32_t count, uint32_t ourWindow) {
    if (callerWindow == kPointerWindow || callerWindow == kInputFocus) return false;
    XcbConnection connection;
    if (!connection.Ok()) return false;
    const xcb_atom_t type = connection.InternAtom("WM_UPDATE_RESULT");
    if (type == XCB_ATOM_NONE) return false;

    // SendEvent always carries 32 bytes, which is exactly the client message's size.
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = callerWindow;
    event.type = type;
    event.data.data32[0] = count;
    event.data.data32[1] = ourWindow;
    static_assert(sizeof(event) == 32);

    const xcb_void_cookie_t cookie =
        xcb_send_event_checked(connection.get(), 0, callerWindow, XCB_EVENT_MASK_NO_EVENT,
                               reinterpret_cast<const char*>(&event));
    // Waiting for the check is the round trip that makes the hand-over synchronous.
    xcb_generic_error_t* error = xcb_request_check(connection.get(), cookie);
    if (error) {
        std::free(error);
        return false;
    }
    xcb_flush(connection.get());
    return true;
}

}  // namespace toval
