#include "platform/file_handle.h"

#include <utility>

namespace toval {

FileHandle::~FileHandle() { Close(); }

FileHandle::FileHandle(FileHandle&& other) noexcept
    : Native(std::exchange(other.Native, kClosed)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        Native = std::exchange(other.Native, kClosed);
    }
    return *this;
}

}  // namespace toval
