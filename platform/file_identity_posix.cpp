#include <sys/stat.h>

#include "platform/file_identity.h"
#include "platform/file_time.h"

namespace toval {

namespace {
uint64_t Nanoseconds(const timespec& ts) {
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}
}  // namespace

IdentifiedFile IdentifiedFromStat(const struct stat& st) {
    IdentifiedFile out;
    out.Stamp = {static_cast<uint64_t>(st.st_size), FileTimeFromTimespec(st.st_mtim)};
    out.Identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                    out.Stamp.Size, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
    return out;
}

std::optional<IdentifiedFile> IdentifyFile(const FileHandle& file) {
    struct stat st {};
    if (!file.IsOpen() || ::fstat(static_cast<int>(file.NativeHandle()), &st) != 0 ||
        !S_ISREG(st.st_mode))
        return std::nullopt;
    return IdentifiedFromStat(st);
}

}  // namespace toval
