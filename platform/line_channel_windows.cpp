#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "platform/line_channel.h"

namespace toval {

namespace {
class HandleChannel : public LineChannel {
  public:
    explicit HandleChannel(HANDLE handle) : Handle(handle) {}
    ~HandleChannel() override {
        if (Handle) CloseHandle(Handle);
    }

    // Anonymous pipes on Windows have no non-blocking mode: a write waits while the pipe is
    // full. Lines are small and the launcher that asked for them reads them; a pipe it closed
    // fails at once, and the channel is closed for good then.
    void WriteLine(std::string_view line, bool) override {
        if (!Handle) return;
        std::string text(line);
        text += '\n';
        size_t done = 0;
        while (done < text.size()) {
            DWORD written = 0;
            if (!WriteFile(Handle, text.data() + done, static_cast<DWORD>(text.size() - done),
                           &written, nullptr) ||
                written == 0) {
                CloseHandle(Handle);
                Handle = nullptr;
                return;
            }
            done += written;
        }
    }

  private:
    HANDLE Handle;
};
}  // namespace

std::unique_ptr<LineChannel> OpenLineChannel(uint64_t id) {
    HANDLE given = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(id));
    if (!given || given == INVALID_HANDLE_VALUE) return nullptr;
    HANDLE own = nullptr;
    // A copy that the programs we start do not inherit, the given one closed: the launcher's
    // reader must see the end of the stream when we end, not when the lobby does.
    if (!DuplicateHandle(GetCurrentProcess(), given, GetCurrentProcess(), &own, 0, FALSE,
                         DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE))
        return nullptr;
    return std::make_unique<HandleChannel>(own);
}

}  // namespace toval
