#include "platform/file_read.h"

#include "platform/file_handle.h"

namespace toval {

std::optional<std::string> ReadSmallFile(const std::string& path, uint64_t maxBytes) {
    // Regular files only: a FIFO or a device at the path is refused without waiting on it.
    FileHandle file = FileHandle::Open(path, OpenFor::Read);
    const std::optional<uint64_t> size = file.RegularSize();
    if (!size || *size > maxBytes) return std::nullopt;
    std::string data(static_cast<size_t>(*size), '\0');
    size_t done = 0;
    while (done < data.size()) {
        const int64_t n = file.Read(data.data() + done, data.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    // A file that shrank meanwhile is read as far as it goes; one that grew is cut at its size
    // when it was opened, which is what the cap was checked against.
    data.resize(done);
    return data;
}

}  // namespace toval
