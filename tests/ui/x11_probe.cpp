#include "tests/ui/x11_probe.h"

#include <xcb/xtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace toval::test {

namespace {
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

std::vector<xcb_window_t> Children(xcb_connection_t* c, xcb_window_t w) {
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
    if (!tree) return {};
    const xcb_window_t* kids = xcb_query_tree_children(tree.get());
    return {kids, kids + xcb_query_tree_children_length(tree.get())};
}

std::string Property(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property) {
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE) return {};
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return std::string(data, static_cast<size_t>(xcb_get_property_value_length(reply.get())));
}

bool HasProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property) {
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
    return reply && reply->type != XCB_ATOM_NONE;
}

bool SendToOwner(xcb_connection_t* c, xcb_window_t window, const void* event) {
    const auto cookie = xcb_send_event_checked(c, 0, window, XCB_EVENT_MASK_NO_EVENT,
                                               static_cast<const char*>(event));
    Reply<xcb_generic_error_t> error(xcb_request_check(c, cookie));
    return !error;
}
}  // namespace

int DockedTrayIcons(const std::string& display) {
    XcbConnection x(display.c_str());
    xcb_screen_t* screen = x.DefaultScreen();
    if (!screen) return -1;
    int docked = 0;
    std::vector<xcb_window_t> pending = Children(x.get(), screen->root);
    for (const xcb_window_t top : pending) {
        // Only trayer has top-level windows with docked icons below them; walk everything.
        std::vector<xcb_window_t> stack = Children(x.get(), top);
        while (!stack.empty()) {
            const xcb_window_t w = stack.back();
            stack.pop_back();
            if (HasProperty(x.get(), w, XCB_ATOM_WM_CLASS)) ++docked;
            for (xcb_window_t kid : Children(x.get(), w)) stack.push_back(kid);
        }
    }
    return docked;
}

xcb_window_t FindTopLevel(const std::string& display, const std::string& title) {
    XcbConnection x(display.c_str());
    xcb_screen_t* screen = x.DefaultScreen();
    if (!screen) return 0;
    const xcb_atom_t name = x.InternAtom("_NET_WM_NAME");
    // A manager's frames are top-level in its place, with the window one level below.
    for (const xcb_window_t top : Children(x.get(), screen->root)) {
        if (Property(x.get(), top, name) == title) return top;
        for (const xcb_window_t w : Children(x.get(), top)) {
            if (Property(x.get(), w, name) == title) return w;
        }
    }
    return 0;
}

std::optional<ScreenPoint> Origin(const std::string& display, xcb_window_t window) {
    XcbConnection x(display.c_str());
    xcb_screen_t* screen = x.DefaultScreen();
    if (!screen) return std::nullopt;
    Reply<xcb_translate_coordinates_reply_t> reply(xcb_translate_coordinates_reply(
        x.get(), xcb_translate_coordinates(x.get(), window, screen->root, 0, 0), nullptr));
    if (!reply) return std::nullopt;
    return ScreenPoint{reply->dst_x, reply->dst_y};
}

bool MoveWindow(const std::string& display, xcb_window_t window, ScreenPoint at) {
    XcbConnection x(display.c_str());
    if (!x.Ok()) return false;
    const uint32_t values[] = {static_cast<uint32_t>(at.X), static_cast<uint32_t>(at.Y)};
    Reply<xcb_generic_error_t> error(xcb_request_check(
        x.get(), xcb_configure_window_checked(x.get(), window,
                                              XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values)));
    return !error;
}

bool RequestIconify(const std::string& display, xcb_window_t window) {
    XcbConnection x(display.c_str());
    xcb_screen_t* screen = x.DefaultScreen();
    if (!screen) return false;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = x.InternAtom("WM_CHANGE_STATE");
    event.data.data32[0] = 3;  // IconicState
    const auto cookie = xcb_send_event_checked(
        x.get(), 0, screen->root,
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&event));
    Reply<xcb_generic_error_t> error(xcb_request_check(x.get(), cookie));
    return !error;
}

bool ShownNormally(const std::string& display, xcb_window_t window) {
    XcbConnection x(display.c_str());
    if (!x.Ok()) return false;
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        x.get(), xcb_get_window_attributes(x.get(), window), nullptr));
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) return false;
    const std::string state = Property(x.get(), window, x.InternAtom("WM_STATE"));
    uint32_t value = 0;
    if (state.size() >= sizeof value) std::memcpy(&value, state.data(), sizeof value);
    return value != 3;  // IconicState
}

bool HasWindowProperty(const std::string& display, xcb_window_t window, const char* name) {
    XcbConnection x(display.c_str());
    return x.Ok() && HasProperty(x.get(), window, x.InternAtom(name));
}

bool SendClick(const std::string& display, xcb_window_t window, int x, int y) {
    XcbConnection c(display.c_str());
    xcb_screen_t* screen = c.DefaultScreen();
    if (!screen) return false;
    for (const uint8_t type : {XCB_BUTTON_PRESS, XCB_BUTTON_RELEASE}) {
        xcb_button_press_event_t event{};
        event.response_type = type;
        event.detail = 1;
        event.time = XCB_CURRENT_TIME;
        event.root = screen->root;
        event.event = window;
        event.child = XCB_WINDOW_NONE;
        event.event_x = static_cast<int16_t>(x);
        event.event_y = static_cast<int16_t>(y);
        event.root_x = static_cast<int16_t>(x);
        event.root_y = static_cast<int16_t>(y);
        event.state = type == XCB_BUTTON_RELEASE ? XCB_BUTTON_MASK_1 : 0;
        event.same_screen = 1;
        if (!SendToOwner(c.get(), window, &event)) return false;
    }
    xcb_flush(c.get());
    return true;
}

bool SendCommand(const std::string& display, xcb_window_t window, uint32_t id) {
    XcbConnection c(display.c_str());
    if (!c.Ok()) return false;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = c.InternAtom("WM_COMMAND");
    event.data.data32[0] = id;
    const bool sent = SendToOwner(c.get(), window, &event);
    xcb_flush(c.get());
    return sent;
}

RealPointer::RealPointer(const std::string& display) : Connection(display.c_str()) {
    if (xcb_screen_t* screen = Connection.DefaultScreen()) Root = screen->root;
}

bool RealPointer::Ok() const {
    if (!Root) return false;
    const xcb_query_extension_reply_t* xtest =
        xcb_get_extension_data(Connection.get(), &xcb_test_id);
    return xtest && xtest->present;
}

void RealPointer::MoveTo(ScreenPoint to, int steps) {
    const ScreenPoint from = At;
    for (int i = 1; i <= steps; ++i) {
        At = {from.X + (to.X - from.X) * i / steps, from.Y + (to.Y - from.Y) * i / steps};
        Fake(XCB_MOTION_NOTIFY, 0, At);
        // Time for the client to see each step on its own.
        if (steps > 1) std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
}

void RealPointer::Press() { Fake(XCB_BUTTON_PRESS, 1); }

void RealPointer::Release() { Fake(XCB_BUTTON_RELEASE, 1); }

void RealPointer::Fake(uint8_t type, uint8_t detail, ScreenPoint at) {
    xcb_test_fake_input(Connection.get(), type, detail, XCB_CURRENT_TIME, Root,
                        static_cast<int16_t>(at.X), static_cast<int16_t>(at.Y), XCB_NONE);
    // A round trip: the server has made the event before the test goes on.
    std::free(xcb_get_input_focus_reply(Connection.get(), xcb_get_input_focus(Connection.get()),
                                        nullptr));
}

UnmapWatch::UnmapWatch(const std::string& display, xcb_window_t window)
    : Connection(display.c_str()), Window(window) {
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(Connection.get(), Window, XCB_CW_EVENT_MASK, &mask);
    std::free(xcb_get_input_focus_reply(Connection.get(), xcb_get_input_focus(Connection.get()),
                                        nullptr));
}

bool UnmapWatch::Seen(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        Reply<xcb_generic_event_t> event(xcb_poll_for_event(Connection.get()));
        if (!event) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if ((event->response_type & 0x7F) == XCB_UNMAP_NOTIFY &&
            reinterpret_cast<xcb_unmap_notify_event_t*>(event.get())->window == Window) {
            return true;
        }
    }
}

MessageWindow::MessageWindow(const std::string& display) : Connection(display.c_str()) {
    xcb_screen_t* screen = Connection.DefaultScreen();
    if (!screen) return;
    Window = xcb_generate_id(Connection.get());
    xcb_create_window(Connection.get(), XCB_COPY_FROM_PARENT, Window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_flush(Connection.get());
}

std::optional<std::array<uint32_t, 5>> MessageWindow::Next(const char* atom,
                                                           std::chrono::milliseconds limit) {
    if (!Window) return std::nullopt;
    const xcb_atom_t type = Connection.InternAtom(atom);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        Reply<xcb_generic_event_t> event(xcb_poll_for_event(Connection.get()));
        if (!event) {
            if (std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE) continue;
        const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event.get());
        if (message->type != type || message->window != Window) continue;
        std::array<uint32_t, 5> data{};
        std::memcpy(data.data(), message->data.data32, sizeof data);
        return data;
    }
    return std::nullopt;
}

}  // namespace toval::test
