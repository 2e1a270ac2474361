#include <windows.h>

#include "platform/file_read.h"
#include "platform/wide_text.h"

namespace toval {

std::optional<std::string> ReadSmallFile(const std::string& path, uint64_t maxBytes) {
    const HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<std::string> bytes;
    LARGE_INTEGER size{};
    if (::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size) &&
        static_cast<uint64_t>(size.QuadPart) <= maxBytes) {
        std::string data(static_cast<size_t>(size.QuadPart), '\0');
        size_t done = 0;
        while (done < data.size()) {
            const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
            DWORD got = 0;
            if (!::ReadFile(file, data.data() + done, want, &got, nullptr) || got == 0) break;
            done += got;
        }
        // As on every system: a file that shrank is read as far as it goes.
        data.resize(done);
        bytes = std::move(data);
    }
    ::CloseHandle(file);
    return bytes;
}

}  // namespace toval
