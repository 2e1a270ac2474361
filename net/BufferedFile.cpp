#include "net/BufferedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace toval {

namespace {
constexpr uint64_t kWritebackStep = 8 << 20;
}  // namespace

BufferedFile::~BufferedFile() { Close(); }

bool BufferedFile::Open(const std::string& path, bool exclusive) {
    if (IsOpen()) return true;
    if (!Buffer) Buffer = std::make_unique_for_overwrite<char[]>(Capacity);
    // A link planted where the download goes must not redirect the write to another file.
    // Readable too, so that a trailing hash can read back what was written.
    const int flags = O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (exclusive ? O_EXCL : O_TRUNC);
    Fd = ::open(path.c_str(), flags, 0644);
    Used = 0;
    Written = WritebackStarted = 0;
    Failed = false;
    return IsOpen();
}

bool BufferedFile::Continue(const std::string& path, uint64_t offset) {
    if (IsOpen()) return false;
    if (!Buffer) Buffer = std::make_unique_for_overwrite<char[]>(Capacity);
    Fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    Used = 0;
    Written = WritebackStarted = offset;
    Failed = false;
    struct stat st {};
    const auto start = static_cast<off_t>(offset);
    if (Fd >= 0 && ::fstat(Fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= start &&
        ::ftruncate(Fd, start) == 0 && ::lseek(Fd, start, SEEK_SET) == start)
        return true;
    Discard();
    return false;
}

uint64_t BufferedFile::ReadBack(uint64_t bytes,
                                const std::function<void(const char*, size_t)>& take) {
    if (!IsOpen() || !Flush()) return 0;
    constexpr size_t kPiece = 256 << 10;
    auto piece = std::make_unique_for_overwrite<char[]>(kPiece);
    uint64_t done = 0;
    while (done < bytes) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kPiece, bytes - done));
        const ssize_t n = ::pread(Fd, piece.get(), want, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        take(piece.get(), static_cast<size_t>(n));
        done += static_cast<uint64_t>(n);
    }
    return done;
}

bool BufferedFile::Append(const char* data, size_t size) {
    if (Failed || !IsOpen()) return false;
    if (Used + size > Capacity && !Flush()) return false;
    // A block this large is as good a write as a full buffer: it goes out without a copy.
    if (Used == 0 && size >= Capacity / 4) return WriteAll(data, size);
    std::memcpy(Buffer.get() + Used, data, size);
    Used += size;
    return true;
}

bool BufferedFile::Close(uint32_t mode, bool sync) {
    if (!IsOpen()) return !Failed;
    bool ok = Flush();
    // Through the descriptor, so the mode lands on the file written even if the path was swapped.
    if (ok && mode != 0) ok = ::fchmod(Fd, static_cast<mode_t>(mode)) == 0;
    if (ok && sync) ok = ::fsync(Fd) == 0;
    Trailing.reset();
    const bool closed = ::close(Fd) == 0;
    Fd = -1;
    return ok && closed;
}

bool BufferedFile::HashWhileWriting() {
    if (!IsOpen()) return false;
    Trailing = std::make_unique<TrailingHash>(Fd);
    if (!Trailing->Started()) {
        Trailing.reset();
        return false;
    }
    Trailing->Advance(Written);
    return true;
}

std::optional<Sha256Digest> BufferedFile::FinishHash() {
    if (!Trailing || !Flush()) return std::nullopt;
    return Trailing->Finish(Written);
}

void BufferedFile::Discard() {
    Used = 0;
    Trailing.reset();
    if (!IsOpen()) return;
    ::close(Fd);
    Fd = -1;
}

bool BufferedFile::Flush() {
    const size_t pending = Used;
    Used = 0;
    return pending == 0 || WriteAll(Buffer.get(), pending);
}

bool BufferedFile::WriteAll(const char* data, size_t size) {
    while (size > 0 && !Failed) {
        const ssize_t n = ::write(Fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Failed = true;
            break;
        }
        data += n;
        size -= static_cast<size_t>(n);
        Written += static_cast<uint64_t>(n);
    }
    if (Trailing && !Failed) Trailing->Advance(Written);
    // A large file is written out while it downloads rather than all at once when it is synced
    // before its install: the kernel is asked to start, without waiting for it.
    if (!Failed && Written - WritebackStarted >= kWritebackStep) {
        ::sync_file_range(Fd, static_cast<off_t>(WritebackStarted),
                          static_cast<off_t>(Written - WritebackStarted), SYNC_FILE_RANGE_WRITE);
        WritebackStarted = Written;
    }
    return !Failed;
}

}  // namespace toval
