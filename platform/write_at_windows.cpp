#include <windows.h>

#include <algorithm>

#include "platform/write_at.h"

namespace toval {

bool WriteAllAt(FileHandle& file, const void* data, size_t size, uint64_t offset) {
    // One WriteFile moves at most a DWORD's worth.
    constexpr size_t kLargestCall = 1u << 30;
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(offset);
        where.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD put = 0;
        if (!::WriteFile(reinterpret_cast<HANDLE>(file.NativeHandle()), at,
                         static_cast<DWORD>(std::min(size, kLargestCall)), &put, &where) ||
            put == 0)
            return false;
        at += put;
        size -= put;
        offset += put;
    }
    return file.IsOpen();
}

}  // namespace toval
