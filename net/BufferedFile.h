#pragma once
// A local file written through one buffer, so that a body arriving in small chunks costs few
// system calls. Nothing is opened until Open: a failed transfer leaves an existing file untouched.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "net/TrailingHash.h"
#include "platform/file_handle.h"

namespace toval {

class BufferedFile {
  public:
    explicit BufferedFile(size_t capacity) : Capacity(capacity) {}
    // Writes out what it still holds (failures here cannot be reported) and closes.
    ~BufferedFile();
    BufferedFile(const BufferedFile&) = delete;
    BufferedFile& operator=(const BufferedFile&) = delete;

    // Opens `path` for writing, never through a link; false when it cannot. An exclusive open
    // creates the file and fails when it exists; otherwise an existing file is truncated.
    bool Open(const std::string& path, bool exclusive);
    // Opens the existing `path` to write on after its first `offset` bytes (anything past them
    // goes); false when it cannot, or holds fewer.
    bool Continue(const std::string& path, uint64_t offset);
    // Hands the first `bytes` of the file to `take` in pieces; the number handed, which is less
    // only when reading failed.
    uint64_t ReadBack(uint64_t bytes, const std::function<void(const char*, size_t)>& take);
    bool IsOpen() const { return File.IsOpen(); }
    // False once a write to the disk has failed (disk full, file too large, I/O error).
    bool Append(const char* data, size_t size);
    // Writes out the buffer, gives the file `mode` when non-zero, with `sync` waits until the data
    // is on the disk, and closes; false when any of these failed.
    bool Close(uint32_t mode = 0, bool sync = false);
    // Closes without writing out what the buffer still holds.
    void Discard();

    // From now on the file is hashed as it is written, on a thread of its own that takes each
    // written buffer; false when no thread could be started (the caller then hashes by itself).
    bool HashWhileWriting();
    bool Hashing() const { return Trailing != nullptr; }
    // Writes out the buffer and gives the digest of everything written; nothing on a failure.
    std::optional<Sha256Digest> FinishHash();

  private:
    bool Flush();
    bool WriteAll(const char* data, size_t size);

    size_t Capacity;
    std::unique_ptr<char[]> Buffer;
    size_t Used = 0;
    uint64_t Written = 0;           // bytes handed to the kernel
    uint64_t WritebackStarted = 0;  // bytes the kernel has been asked to write out
    FileHandle File;
    bool Failed = false;
    std::unique_ptr<TrailingHash> Trailing;  // goes before the file closes
};

}  // namespace toval
