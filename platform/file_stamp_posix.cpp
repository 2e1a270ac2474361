#include <sys/stat.h>

#include "platform/file_stamp.h"
#include "platform/file_time.h"

namespace toval {

std::optional<FileStamp> StampOf(const FileHandle& file) {
    struct stat st {};
    if (!file.IsOpen() || ::fstat(static_cast<int>(file.NativeHandle()), &st) != 0 ||
        !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStamp{static_cast<uint64_t>(st.st_size), FileTimeFromTimespec(st.st_mtim)};
}

}  // namespace toval
