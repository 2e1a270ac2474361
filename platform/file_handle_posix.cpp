#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_handle.h"

namespace toval {

namespace {
int Fd(intptr_t native) { return static_cast<int>(native); }
}  // namespace

FileHandle FileHandle::Open(const std::string& path, OpenFor how, uint32_t mode) {
    // Not blocking on a FIFO or a device before it is refused as not a regular file.
    int flags = O_CLOEXEC | O_NOFOLLOW;
    switch (how) {
        case OpenFor::Read:
            flags = O_CLOEXEC | O_RDONLY | O_NONBLOCK | O_NOCTTY;
            break;
        case OpenFor::Update:
            flags |= O_RDWR | O_NONBLOCK;
            break;
        case OpenFor::Create:
            flags |= O_RDWR | O_CREAT | O_TRUNC | O_NONBLOCK;
            break;
        case OpenFor::CreateNew:
            flags |= O_RDWR | O_CREAT | O_EXCL;
            break;
    }
    const int fd = ::open(path.c_str(), flags, static_cast<mode_t>(mode));
    if (fd < 0) return {};
    // O_NONBLOCK may stay: it changes nothing for a regular file, and nothing else is kept.
    FileHandle file(fd);
    if (!file.RegularSize()) return {};
    return file;
}

int64_t FileHandle::Read(void* data, size_t size) {
    for (;;) {
        const ssize_t n = ::read(Fd(Native), data, size);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

int64_t FileHandle::ReadAt(void* data, size_t size, uint64_t offset) const {
    for (;;) {
        const ssize_t n = ::pread(Fd(Native), data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

bool FileHandle::WriteAll(const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(Fd(Native), at, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
        size -= static_cast<size_t>(n);
    }
    return IsOpen();
}

std::optional<uint64_t> FileHandle::RegularSize() const {
    struct stat st {};
    if (::fstat(Fd(Native), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

bool FileHandle::Resize(uint64_t size) {
    const auto at = static_cast<off_t>(size);
    return ::ftruncate(Fd(Native), at) == 0 && ::lseek(Fd(Native), at, SEEK_SET) == at;
}

bool FileHandle::Reserve(uint64_t size) {
    // posix_fallocate returns the error rather than setting errno.
    return ::posix_fallocate(Fd(Native), 0, static_cast<off_t>(size)) == 0;
}

bool FileHandle::SetMode(uint32_t mode) {
    return ::fchmod(Fd(Native), static_cast<mode_t>(mode)) == 0;
}

bool FileHandle::Sync() { return ::fsync(Fd(Native)) == 0; }

void FileHandle::StartWriteback(uint64_t offset, uint64_t size) {
    ::sync_file_range(Fd(Native), static_cast<off_t>(offset), static_cast<off_t>(size),
                      SYNC_FILE_RANGE_WRITE);
}

bool FileHandle::Close() {
    if (!IsOpen()) return true;
    const bool closed = ::close(Fd(Native)) == 0;
    Native = kClosed;
    return closed;
}

PathStatus ExaminePath(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    if (S_ISREG(st.st_mode)) return {PathKind::Regular, static_cast<uint64_t>(st.st_size)};
    if (S_ISDIR(st.st_mode)) return {PathKind::Directory, 0};
    if (S_ISLNK(st.st_mode)) return {PathKind::Link, 0};
    return {PathKind::Other, 0};
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

bool RenameOver(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace toval
