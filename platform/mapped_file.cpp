#include "platform/mapped_file.h"

#include <utility>

namespace toval {

MappedFile::~MappedFile() { Release(); }

MappedFile::MappedFile(MappedFile&& other) noexcept
    : Data(std::exchange(other.Data, nullptr)),
      Size(std::exchange(other.Size, 0)),
      Valid(std::exchange(other.Valid, false)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        Release();
        Data = std::exchange(other.Data, nullptr);
        Size = std::exchange(other.Size, 0);
        Valid = std::exchange(other.Valid, false);
    }
    return *this;
}

}  // namespace toval
