#pragma once
// Window-message numbers and the sink that transfers post their notifications to.

#include <cstdint>

namespace toval {

class ITransfer;

// The first number Windows leaves to applications (its WM_USER, which <windows.h> makes a macro).
constexpr uint32_t kUserMessageBase = 0x0400;
// wParam: kind << 16 | chunk bytes
constexpr uint32_t WM_DOWNLOAD_PROGRESS = kUserMessageBase + 100;
// wParam: kind << 16 | result code
constexpr uint32_t WM_DOWNLOAD_COMPLETE = kUserMessageBase + 101;

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
    virtual void Post(uint32_t message, uint32_t wParam, ITransfer* lParam) = 0;
};

}  // namespace toval
