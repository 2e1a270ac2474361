#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/pe_version.h"
#include "platform/status.h"

namespace toval {

namespace {

bool PreadAll(int fd, uint8_t* buffer, std::size_t size, uint64_t offset) {
    while (size) {
        const ssize_t n = pread(fd, buffer, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // an error, or the file shrank under us
        buffer += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

bool FdImageSource::ReadAt(uint64_t offset, void* buffer, std::size_t size) {
    if (offset > FileSize || size > FileSize - offset) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    if (size > kWindowSize) return PreadAll(Fd, out, size, offset);
    if (WindowLength == 0 || offset < WindowOffset || offset + size > WindowOffset + WindowLength) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<uint64_t>(kWindowSize, FileSize - offset));
        WindowLength = 0;
        if (!PreadAll(Fd, Window, length, offset)) return false;
        WindowOffset = offset;
        WindowLength = length;
    }
    std::memcpy(out, Window + (offset - WindowOffset), size);
    return true;
}

int32_t ReadFixedFileInfo(const std::string& path, VS_FIXEDFILEINFO& out) {
    // O_NONBLOCK: a FIFO must not hold us waiting for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return LastErrorStatus();
    struct stat st {};
    int32_t status = 0;
    if (fstat(fd, &st) != 0)
        status = LastErrorStatus();
    else if (!S_ISREG(st.st_mode))
        status = StatusFromError(S_ISDIR(st.st_mode) ? EISDIR : kErrorBadExeFormat);
    else {
        FdImageSource source(fd, static_cast<uint64_t>(st.st_size));
        status = ReadFixedFileInfo(source, out);
    }
    close(fd);
    return status;
}

}  // namespace toval
