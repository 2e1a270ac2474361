#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

void MappedFile::Release() {
    if (Data) ::munmap(Data, Size);
    Data = nullptr;
    Size = 0;
    Valid = false;
}

}  // namespace toval
