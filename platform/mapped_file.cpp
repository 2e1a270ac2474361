#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace toval {

MappedFile::MappedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        Size = static_cast<size_t>(st.st_size);
        if (Size == 0) {
            Valid = true;
        } else {
            Data = ::mmap(nullptr, Size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (Data == MAP_FAILED) {
                Data = nullptr;
                Size = 0;
            } else {
                Valid = true;
            }
        }
    }
    ::close(fd);
}

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

void MappedFile::Release() {
    if (Data) ::munmap(Data, Size);
    Data = nullptr;
    Size = 0;
    Valid = false;
}

}  // namespace toval
