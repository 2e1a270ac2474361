#include <windows.h>

#include "platform/file_stamp.h"

namespace toval {

std::optional<FileStamp> StampOf(const FileHandle& file) {
    if (!file.IsOpen()) return std::nullopt;
    const HANDLE handle = reinterpret_cast<HANDLE>(file.NativeHandle());
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::nullopt;
    FileStamp stamp;
    stamp.Size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp.LastWrite.dwLowDateTime = info.ftLastWriteTime.dwLowDateTime;
    stamp.LastWrite.dwHighDateTime = info.ftLastWriteTime.dwHighDateTime;
    return stamp;
}

}  // namespace toval
