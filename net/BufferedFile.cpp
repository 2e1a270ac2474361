#include "net/BufferedFile.h"

#include <algorithm>
#include <cstring>

#include "platform/write_at.h"

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
    File = FileHandle::Open(path, exclusive ? OpenFor::CreateNew : OpenFor::Create);
    Used = 0;
    Written = WritebackStarted = 0;
    Failed = false;
    return IsOpen();
}

bool BufferedFile::Continue(const std::string& path, uint64_t offset) {
    if (IsOpen()) return false;
    if (!Buffer) Buffer = std::make_unique_for_overwrite<char[]>(Capacity);
    File = FileHandle::Open(path, OpenFor::Update);
    Used = 0;
    Written = WritebackStarted = offset;
    Failed = false;
    const std::optional<uint64_t> size = File.RegularSize();
    if (size && *size >= offset && File.Resize(offset)) return true;
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
        const int64_t n = File.ReadAt(piece.get(), want, done);
        if (n <= 0) break;
        take(piece.get(), static_cast<size_t>(n));
        done += static_cast<uint64_t>(n);
    }
    return done;
}

bool BufferedFile::Append(const char* data, size_t size) {
    if (Failed || !IsOpen()) return false;
    // A block this large is as good a write as a full buffer: it goes out without a copy, unless
    // the hash is to read it from the buffer after the write.
    if (!Trailing) {
        if (Used + size > Capacity && !Flush()) return false;
        if (Used == 0 && size >= Capacity / 4) return WriteAll(data, size);
    }
    while (size > 0) {
        if (Used == Capacity && !Flush()) return false;
        const size_t n = std::min(size, Capacity - Used);
        std::memcpy(Buffer.get() + Used, data, n);
        Used += n;
        data += n;
        size -= n;
    }
    return true;
}

bool BufferedFile::Close(uint32_t mode, bool sync) {
    if (!IsOpen()) return !Failed;
    bool ok = Flush();
    // Through the handle, so the mode lands on the file written even if the path was swapped.
    if (ok && mode != 0) ok = File.SetMode(mode);
    if (ok && sync) ok = File.Sync();
    Trailing.reset();
    const bool closed = File.Close();
    return ok && closed;
}

bool BufferedFile::HashWhileWriting() {
    if (!IsOpen()) return false;
    // What the file holds already (a continued download's start) is read back once; every byte
    // written from now on is hashed from the buffer it was written from.
    if (!Flush()) return false;
    Trailing = std::make_unique<TrailingHash>(File, Written, Capacity);
    if (!Trailing->Started()) {
        Trailing.reset();
        return false;
    }
    return true;
}

std::optional<Sha256Digest> BufferedFile::FinishHash() {
    if (!Trailing || !Flush()) return std::nullopt;
    return Trailing->Finish(Written);
}

void BufferedFile::Discard() {
    Used = 0;
    Trailing.reset();
    File.Close();
}

bool BufferedFile::Flush() {
    const size_t pending = Used;
    Used = 0;
    if (pending == 0) return true;
    if (!WriteAll(Buffer.get(), pending)) return false;
    if (Trailing) Buffer = Trailing->Hand(std::move(Buffer), pending);
    return true;
}

bool BufferedFile::WriteAll(const char* data, size_t size) {
    if (Failed) return false;
    // At the end of what was written: a trailing hash may be reading the file meanwhile.
    if (!WriteAllAt(File, data, size, Written)) {
        Failed = true;
        return false;
    }
    Written += size;
    // A large file is written out while it downloads rather than all at once when it is synced
    // before its install: the kernel is asked to start, without waiting for it.
    if (Written - WritebackStarted >= kWritebackStep) {
        File.StartWriteback(WritebackStarted, Written - WritebackStarted);
        WritebackStarted = Written;
    }
    return true;
}

}  // namespace toval
