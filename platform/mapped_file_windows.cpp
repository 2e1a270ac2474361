#include <windows.h>

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

}  // namespace toval
