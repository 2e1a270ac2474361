#include <windows.h>

#include "platform/file_handle.h"
#include "platform/mapped_file.h"
#include "platform/wide_text.h"

namespace toval {

MappedFile::MappedFile(const std::string& path) {
    // Opened as the link itself when it is one, which is then refused: a link planted in the
    // client must not lead the reader elsewhere.
    const HANDLE file =
        ::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER size{};
    if (::GetFileInformationByHandle(file, &info) &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
        ::GetFileSizeEx(file, &size)) {
        Size = static_cast<size_t>(size.QuadPart);
        if (Size == 0) {
            Valid = true;  // an empty file cannot be mapped, and needs not be
        } else if (const HANDLE mapping =
                       ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr)) {
            Data = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
            ::CloseHandle(mapping);  // the view keeps the mapping alive
            Valid = Data != nullptr;
            if (!Valid) Size = 0;
        } else {
            Size = 0;
        }
    }
    ::CloseHandle(file);
}

void MappedFile::Release() {
    if (Data) ::UnmapViewOfFile(Data);
    Data = nullptr;
    Size = 0;
    Valid = false;
}

// The system trims a view's pages from the working set by itself when memory is wanted.
void MappedFile::Forget(size_t, size_t) const {}

WritableMapping::WritableMapping(const FileHandle& file, uint64_t size) {
    if (size == 0) return;  // an empty file cannot be mapped, and needs not be
    const HANDLE mapping =
        ::CreateFileMappingW(reinterpret_cast<HANDLE>(file.NativeHandle()), nullptr, PAGE_READWRITE,
                             static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), nullptr);
    if (!mapping) return;
    Data = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, static_cast<SIZE_T>(size));
    ::CloseHandle(mapping);  // the view keeps the mapping alive
    if (Data) Size = static_cast<size_t>(size);
}

WritableMapping::~WritableMapping() {
    if (Data) ::UnmapViewOfFile(Data);
}

// A view's changed pages reach the file only when the view is flushed; FlushFileBuffers alone
// does not write them.
bool WritableMapping::Flush() { return !Data || ::FlushViewOfFile(Data, 0); }

}  // namespace toval
