#include "ui/x11_command_filter.h"

#include <xcb/xcb.h>
#include <QByteArray>

#include "ui/run_display.h"

namespace toval {

X11CommandFilter::X11CommandFilter(std::function<uint32_t()> window,
                                   std::function<void(uint32_t)> command)
    : Window(std::move(window)), Command(std::move(command)) {}

bool X11CommandFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    static const QByteArray kXcbEvent = QByteArrayLiteral("xcb_generic_event_t");
    if (eventType != kXcbEvent || !message) return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    // The top bit marks events that came through SendEvent, which is how other programs reach us.
    if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE) return false;
    const auto* client = reinterpret_cast<const xcb_client_message_event_t*>(event);
    // "WM_COMMAND" is one of the atoms every X server predefines.
    if (client->type != XCB_ATOM_WM_COMMAND || client->format != 32) return false;
    if (client->window != Window()) return false;
    const uint32_t id = WindowCommandId(client->data.data32[0]);
    if (id != 0) Command(id);
    return true;
}

}  // namespace toval
