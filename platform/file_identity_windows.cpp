#include <windows.h>

#include "platform/file_identity.h"

namespace toval {

std::optional<IdentifiedFile> IdentifyFile(const FileHandle& file) {
    if (!file.IsOpen()) return std::nullopt;
    const HANDLE handle = reinterpret_cast<HANDLE>(file.NativeHandle());
    BY_HANDLE_FILE_INFORMATION info{};
    // The change time is not among the handle's usual information; the basic information has it.
    FILE_BASIC_INFO basic{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        return std::nullopt;
    IdentifiedFile out;
    out.Stamp.Size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    out.Identity.Device = info.dwVolumeSerialNumber;
    out.Identity.Index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    out.Identity.Size = out.Stamp.Size;
    out.Identity.Written = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                           info.ftLastWriteTime.dwLowDateTime;
    out.Identity.Changed = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
    out.Stamp.LastWrite = FileTimeFromU64(out.Identity.Written);
    return out;
}

}  // namespace toval
