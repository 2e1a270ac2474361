#pragma once
// The SHA-256 of a file taken while the file is being written, on a thread of its own, so the
// receiving thread never waits for the hash, which on a fast link costs as much as the download
// itself; on two cores the two run side by side. The writer hands over each block it has
// written, and the hash reads it from memory: nothing is read back from the file but what an
// earlier run wrote.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/crypto.h"
#include "platform/file_handle.h"

namespace toval {

class TrailingHash {
  public:
    // The first `prefix` bytes are read back from `file` (a continued download's), which must
    // stay open and readable until Finish or destruction; then the blocks handed over follow,
    // each at most `blockBytes`.
    TrailingHash(const FileHandle& file, uint64_t prefix, size_t blockBytes);
    // The bytes are read straight from `data` (a mapping of the file being written) as Advance
    // makes them available, which must stay valid until Finish or destruction; nothing is copied.
    explicit TrailingHash(const char* data);
    ~TrailingHash();  // stops and joins
    TrailingHash(const TrailingHash&) = delete;
    TrailingHash& operator=(const TrailingHash&) = delete;

    // False when no thread could be started; the caller then hashes by itself.
    bool Started() const { return Worker.joinable(); }
    // Hashes the first `size` bytes of `block` after everything handed over before, and gives
    // back a block of blockBytes to fill next: a spare one, waiting while every spare block is
    // still being hashed, so a writer faster than the hash is held to its pace.
    std::unique_ptr<char[]> Hand(std::unique_ptr<char[]> block, size_t size);
    // The first `bytes` of the mapping are written.
    void Advance(uint64_t bytes);
    // Waits until the first `total` bytes are hashed; their digest, or nothing when reading
    // them back failed or the bytes handed over were not `total`.
    std::optional<Sha256Digest> Finish(uint64_t total);

  private:
    struct Block {
        std::unique_ptr<char[]> Bytes;
        size_t Size = 0;
    };

    void StartWorker();
    void Run();
    // Hashes the prefix read back from the file; false when reading failed.
    bool HashPrefix();

    const FileHandle* File = nullptr;
    const uint64_t Prefix = 0;
    const size_t BlockBytes = 0;
    const char* Data = nullptr;
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<Block> Queue;                     // guarded by Lock: handed over, not yet hashed
    std::vector<std::unique_ptr<char[]>> Spare;  // guarded by Lock: hashed, to be filled again
    size_t Blocks = 0;                           // guarded by Lock: made so far, in all
    uint64_t Available = 0;                      // guarded by Lock: bytes of the mapping written
    uint64_t Total = 0;                          // guarded by Lock; meaningful once Finishing
    bool Finishing = false;                      // guarded by Lock
    bool Stopping = false;                       // guarded by Lock
    bool Done = false;                           // guarded by Lock
    bool Failed = false;                         // guarded by Lock
    Sha256 Hash;                                 // the worker's own until Done
    uint64_t Hashed = 0;                         // the worker's own until Done
    std::thread Worker;
};

}  // namespace toval
