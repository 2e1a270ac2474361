#include <windows.h>

#include <algorithm>

#include "platform/file_handle.h"
#include "platform/wide_text.h"

namespace toval {

namespace {
HANDLE Handle(intptr_t native) { return reinterpret_cast<HANDLE>(native); }
// One ReadFile or WriteFile moves at most a DWORD's worth.
constexpr size_t kLargestCall = 1u << 30;
}  // namespace

FileHandle FileHandle::Open(const std::string& path, OpenFor how, uint32_t) {
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    switch (how) {
        case OpenFor::Read:
            access = GENERIC_READ;
            break;
        case OpenFor::Update:
            break;
        case OpenFor::Create:
            disposition = CREATE_ALWAYS;
            break;
        case OpenFor::CreateNew:
            disposition = CREATE_NEW;
            break;
    }
    // Others may read, and may rename or delete the file as on Linux (a later run's clean-up).
    // For writing, a reparse point is opened as itself, never followed, and refused below.
    const DWORD flags =
        FILE_ATTRIBUTE_NORMAL | (how == OpenFor::Read ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE file = ::CreateFileW(Widen(path).c_str(), access,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, disposition, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    FileHandle handle(reinterpret_cast<intptr_t>(file));
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return {};
    return handle;
}

int64_t FileHandle::Read(void* data, size_t size) {
    DWORD got = 0;
    if (!::ReadFile(Handle(Native), data, static_cast<DWORD>(std::min(size, kLargestCall)), &got,
                    nullptr))
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

int64_t FileHandle::ReadAt(void* data, size_t size, uint64_t offset) const {
    // A positioned read with OVERLAPPED's offset; on a handle opened without
    // FILE_FLAG_OVERLAPPED it also moves the position, which our callers never rely on.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!::ReadFile(Handle(Native), data, static_cast<DWORD>(std::min(size, kLargestCall)), &got,
                    &at))
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

bool FileHandle::WriteAll(const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        DWORD put = 0;
        if (!::WriteFile(Handle(Native), at, static_cast<DWORD>(std::min(size, kLargestCall)), &put,
                         nullptr) ||
            put == 0)
            return false;
        at += put;
        size -= put;
    }
    return IsOpen();
}

std::optional<uint64_t> FileHandle::RegularSize() const {
    LARGE_INTEGER size{};
    if (!IsOpen() || !::GetFileSizeEx(Handle(Native), &size)) return std::nullopt;
    return static_cast<uint64_t>(size.QuadPart);
}

bool FileHandle::Resize(uint64_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(Handle(Native), at, nullptr, FILE_BEGIN) &&
           ::SetEndOfFile(Handle(Native));
}

bool FileHandle::Reserve(uint64_t size) {
    // NTFS allocates the clusters of a file extended by SetEndOfFile (it is not sparse), and
    // fails with ERROR_DISK_FULL when they are not there: the end of file is the reservation.
    LARGE_INTEGER keep{};
    if (!::SetFilePointerEx(Handle(Native), {}, &keep, FILE_CURRENT)) return false;
    const bool ok = Resize(size);
    return ::SetFilePointerEx(Handle(Native), keep, nullptr, FILE_BEGIN) && ok;
}

bool FileHandle::SetMode(uint32_t) { return IsOpen(); }

bool FileHandle::Sync() { return ::FlushFileBuffers(Handle(Native)) != 0; }

// Windows writes a file's dirty pages out on its own schedule; there is no hint to give.
void FileHandle::StartWriteback(uint64_t, uint64_t) {}

bool FileHandle::Close() {
    if (!IsOpen()) return true;
    const bool closed = ::CloseHandle(Handle(Native)) != 0;
    Native = kClosed;
    return closed;
}

PathStatus ExaminePath(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) return {};
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return {PathKind::Link, 0};
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return {PathKind::Directory, 0};
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return {PathKind::Other, 0};
    return {PathKind::Regular,
            (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow};
}

bool RemoveFile(const std::string& path) {
    if (::DeleteFileW(Widen(path).c_str())) return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool RenameOver(const std::string& from, const std::string& to) {
    return ::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace toval
