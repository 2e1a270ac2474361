#include <windows.h>

#include "platform/caller_message.h"

namespace toval {

namespace {
constexpr UINT kUpdateResultMessage = 890;
// A caller that hangs must not hold the updater for ever: the lobby starts either way.
constexpr UINT kReplyLimitMs = 10000;
}  // namespace

bool SendUpdateResultMessage(uint32_t callerWindow, uint32_t count, uint32_t ourWindow) {
    // Window handles keep their meaning in 32 bits, which is how the caller passes its own.
    const HWND caller = reinterpret_cast<HWND>(static_cast<uintptr_t>(callerWindow));
    if (!IsWindow(caller)) return false;
    DWORD_PTR reply = 0;
    return SendMessageTimeoutW(caller, kUpdateResultMessage, count, static_cast<LPARAM>(ourWindow),
                               SMTO_NORMAL, kReplyLimitMs, &reply) != 0;
}

}  // namespace toval
