#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace toval {

std::optional<std::string> ReadSmallFile(const std::string& path, uint64_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<uint64_t>(st.st_size) <= maxBytes) {
        std::string data(static_cast<size_t>(st.st_size), '\0');
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        // A file that shrank meanwhile is read as far as it goes; one that grew is cut at its
        // size when it was opened, which is what the cap was checked against.
        data.resize(done);
        bytes = std::move(data);
    }
    ::close(fd);
    return bytes;
}

}  // namespace toval
