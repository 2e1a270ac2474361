#include "platform/status.h"

#include <cerrno>

namespace toval {

int32_t StatusFromError(int32_t e) {
    if (e > 0) return static_cast<int32_t>(0x80070000u | (static_cast<uint32_t>(e) & 0xFFFFu));
    if (e < 0) return e;
    return static_cast<int32_t>(0x80004005u);
}

int32_t LastErrorStatus() { return StatusFromError(errno); }

}  // namespace toval
