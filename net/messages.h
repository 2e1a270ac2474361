#pragma once
// Window-message numbers and the sink that transfers post their notifications to.

#include <cstdint>

namespace toval {

class ITransfer;

constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_DOWNLOAD_PROGRESS = WM_USER + 100;  // wParam: kind << 16 | chunk bytes
constexpr uint32_t WM_DOWNLOAD_COMPLETE = WM_USER + 101;  // wParam: kind << 16 | result code

constexpr uint32_t MakeNotifyParam(int32_t kind, uint32_t low) {
    return ((static_cast<uint32_t>(kind) & 0xFFFFu) << 16) | (low & 0xFFFFu);
}
constexpr uint32_t LowWord(uint32_t v) { return v & 0xFFFFu; }
constexpr uint32_t HighWord(uint32_t v) { return v >> 16; }

// Where a transfer's notifications go: the window or the console loop. Called from worker
// threads, so implementations must be thread-safe; messages of one poster arrive in order.
class IMessageSink {
  public:
    virtual ~IMessageSink() = default;
    virtual void PostMessage(uint32_t message, uint32_t wParam, ITransfer* lParam) = 0;
};

}  // namespace toval
