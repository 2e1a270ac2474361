#pragma once
// The caller's window lives on X11: the result of the check is delivered to it as a client
// message of type "WM_UPDATE_RESULT" carrying [count, our window id].

#include <cstdint>

namespace toval {

// Sends the result to `callerWindow` on the display named by $DISPLAY and waits until the X
// server has taken it. False when no display can be reached or the window does not exist.
bool SendUpdateResultMessage(uint32_t callerWindow, uint32_t count, uint32_t ourWindow);

}  // namespace toval
