#pragma once
// The SHA-256 of a file taken while the file is being written, on a thread of its own that
// reads back what the writer has already handed to the kernel (from the page cache). The
// receiving thread then never waits for the hash, which on a fast link costs as much as the
// download itself; on two cores the two run side by side.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/crypto.h"
#include "platform/file_handle.h"

namespace toval {

class TrailingHash {
  public:
    // `file` must stay open and readable until Finish or destruction.
    explicit TrailingHash(const FileHandle& file);
    // The bytes are read straight from `data` (a mapping of the file being written), which must
    // stay valid until Finish or destruction; nothing is copied.
    explicit TrailingHash(const char* data);
    ~TrailingHash();  // stops and joins
    TrailingHash(const TrailingHash&) = delete;
    TrailingHash& operator=(const TrailingHash&) = delete;

    // False when no thread could be started; the caller then hashes by itself.
    bool Started() const { return Worker.joinable(); }
    // The first `bytes` of the file are written.
    void Advance(uint64_t bytes);
    // Waits until the first `total` bytes are hashed; their digest, or nothing when reading
    // them back failed.
    std::optional<Sha256Digest> Finish(uint64_t total);

  private:
    void StartWorker();
    void Run();

    const FileHandle* File = nullptr;
    const char* Data = nullptr;
    std::mutex Lock;
    std::condition_variable Changed;
    uint64_t Available = 0;  // guarded by Lock
    uint64_t Total = 0;      // guarded by Lock; meaningful once Finishing
    bool Finishing = false;  // guarded by Lock
    bool Stopping = false;   // guarded by Lock
    bool Done = false;       // guarded by Lock
    bool Failed = false;     // guarded by Lock
    Sha256 Hash;             // the worker's own until Done
    std::thread Worker;
};

}  // namespace toval
