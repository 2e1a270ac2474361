#include "platform/x11_caller.h"

namespace toval {

// Replaced by the libxcb sender together with the window.
bool SendUpdateResultMessage(uint32_t, uint32_t, uint32_t) { return false; }

}  // namespace toval
