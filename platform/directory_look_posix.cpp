#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/directory_look.h"
#include "platform/file_identity.h"

namespace toval {

namespace {

// Whom the system checks a file's permission bits for.
struct Reader {
    uint32_t User = 0;
    std::vector<uint32_t> Groups;
};

// Whether opening the file for reading would be allowed, from its permission bits, as the kernel
// decides for a process without ACLs on its files: a file the updater may not read counts as
// absent, as it did when every file was opened, and is replaced.
bool MayRead(const struct stat& st, const Reader& reader) {
    if (reader.User == 0) return true;
    if (st.st_uid == reader.User) return (st.st_mode & S_IRUSR) != 0;
    if (std::find(reader.Groups.begin(), reader.Groups.end(), st.st_gid) != reader.Groups.end())
        return (st.st_mode & S_IRGRP) != 0;
    return (st.st_mode & S_IROTH) != 0;
}

// Who reads: the same for every directory of the process, so asked once.
const Reader& CurrentReader() {
    static const Reader reader = [] {
        Reader who;
        who.User = ::geteuid();
        who.Groups.assign(1, ::getegid());
        const int n = ::getgroups(0, nullptr);
        if (n > 0) {
            who.Groups.resize(1 + static_cast<std::size_t>(n));
            const int got = ::getgroups(n, who.Groups.data() + 1);
            who.Groups.resize(1 + static_cast<std::size_t>(std::max(got, 0)));
        }
        return who;
    }();
    return reader;
}

}  // namespace

// O_PATH: only searching the directory is needed to reach its files, as for their full paths.
DirectoryLook::DirectoryLook(const std::string& path)
    : Path(path), Native(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}

DirectoryLook::~DirectoryLook() {
    if (Native >= 0) ::close(static_cast<int>(Native));
}

DirectoryLook::DirectoryLook(DirectoryLook&& other) noexcept
    : Path(std::move(other.Path)), Native(other.Native) {
    other.Native = -1;
}

bool DirectoryLook::IsOpen() const { return Native >= 0; }

std::optional<LookedFile> DirectoryLook::Look(const std::string& name) const {
    struct stat st {};
    if (Native < 0 || ::fstatat(static_cast<int>(Native), name.c_str(), &st, 0) != 0 ||
        !S_ISREG(st.st_mode) || !MayRead(st, CurrentReader()))
        return std::nullopt;
    LookedFile out;
    out.Known = IdentifiedFromStat(st);
    return out;
}

FileHandle DirectoryLook::Open(const std::string& name, LookedFile&) const {
    if (Native < 0) return {};
    // Not blocking on a FIFO swapped in since the look.
    const int fd = ::openat(static_cast<int>(Native), name.c_str(),
                            O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    return fd < 0 ? FileHandle() : FileHandle(fd);
}

}  // namespace toval
