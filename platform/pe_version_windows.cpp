#include <windows.h>

#include "platform/pe_version.h"
#include "platform/status.h"
#include "platform/wide_text.h"

namespace toval {

namespace {

// Positional reads through a handle: only the bytes the walk asks for are read.
class HandleImageSource : public ImageSource {
  public:
    HandleImageSource(HANDLE file, uint64_t size) : File(file), FileSize(size) {}
    bool ReadAt(uint64_t offset, void* buffer, std::size_t size) override {
        if (offset > FileSize || size > FileSize - offset) return false;
        auto* out = static_cast<uint8_t*>(buffer);
        while (size > 0) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            DWORD got = 0;
            if (!::ReadFile(File, out, want, &got, &at) || got == 0) return false;
            out += got;
            size -= got;
            offset += got;
        }
        return true;
    }
    uint64_t Size() const override { return FileSize; }

  private:
    HANDLE File;
    uint64_t FileSize;
};

}  // namespace

int32_t ReadFixedFileInfo(const std::string& path, VS_FIXEDFILEINFO& out) {
    const HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return StatusFromError(static_cast<int32_t>(::GetLastError()));
    int32_t status = 0;
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        status = StatusFromError(kErrorBadExeFormat);
    } else if (!::GetFileSizeEx(file, &size)) {
        status = StatusFromError(static_cast<int32_t>(::GetLastError()));
    } else {
        HandleImageSource source(file, static_cast<uint64_t>(size.QuadPart));
        status = ReadFixedFileInfo(source, out);
    }
    ::CloseHandle(file);
    return status;
}

}  // namespace toval
