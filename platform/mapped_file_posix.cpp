#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/file_handle.h"

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

void MappedFile::Forget(size_t offset, size_t size) const {
    // Whole pages inside the range only: a page the caller still reads from stays.
    const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    if (!Data || offset > Size || page == 0) return;
    size = std::min(size, Size - offset);
    const size_t first = (offset + page - 1) / page * page;
    const size_t end = (offset + size) / page * page;
    if (end > first) ::madvise(static_cast<char*>(Data) + first, end - first, MADV_DONTNEED);
}

WritableMapping::WritableMapping(const FileHandle& file, uint64_t size) {
    if (size == 0) return;
    void* p = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED,
                     static_cast<int>(file.NativeHandle()), 0);
    if (p == MAP_FAILED) return;
    Data = p;
    Size = static_cast<size_t>(size);
}

WritableMapping::~WritableMapping() {
    if (Data) ::munmap(Data, Size);
}

bool WritableMapping::Flush() { return Ok(); }

}  // namespace toval
