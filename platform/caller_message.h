#pragma once
// The result of the check, delivered to the caller's window. On Windows it is the message
// WM_UPDATE_RESULT (890) with the count as wParam and our window as lParam, sent to the caller's
// HWND; on Linux the caller's window lives on X11 and gets a client message of type
// "WM_UPDATE_RESULT" carrying [count, our window id].

#include <cstdint>

namespace toval {

// Sends the result to `callerWindow` and returns once it has been handed over (on X11: the
// server has taken it; on Windows: the caller's window procedure has returned). False when the
// window does not exist or no display can be reached.
bool SendUpdateResultMessage(uint32_t callerWindow, uint32_t count, uint32_t ourWindow);

}  // namespace toval
