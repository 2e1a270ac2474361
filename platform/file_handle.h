#pragma once
// An open file of the client, the same on both systems: a descriptor on Linux, a HANDLE on
// Windows. Paths are UTF-8. Failures are return values; nothing here throws.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace toval {

enum class OpenFor {
    Read,       // an existing file, read only
    Update,     // an existing file, read and write
    Create,     // read and write; created, or emptied when it exists
    CreateNew,  // read and write; created, and a failure when anything stands at the path
};

class FileHandle {
  public:
    FileHandle() = default;
    // Regular files only. Reading follows a symbolic link (a player may keep a file elsewhere);
    // the modes that write never go through one standing at `path` itself, so that a link
    // planted where the client writes cannot send the write elsewhere. `mode` is a new file's
    // permission bits where the system has them.
    static FileHandle Open(const std::string& path, OpenFor how, uint32_t mode = 0644);
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool IsOpen() const { return Native != kClosed; }

    // From the current position; the bytes read, 0 at the end, -1 on a failure.
    int64_t Read(void* data, size_t size);
    // At `offset`, leaving the position alone; the same counts as Read.
    int64_t ReadAt(void* data, size_t size, uint64_t offset) const;
    // All of `data` at the current position; false on any failure (a full disk among them).
    bool WriteAll(const void* data, size_t size);
    // The size when the handle is a regular file; nothing for anything else or on a failure.
    std::optional<uint64_t> RegularSize() const;
    // Cuts or extends the file to `size` bytes and puts the position there.
    bool Resize(uint64_t size);
    // Reserves the disk blocks of the first `size` bytes (the file then has that size), so that
    // writing them through a mapping cannot fail for want of space half way.
    bool Reserve(uint64_t size);
    // The permission bits on Linux (set through the handle, so they land on the file written
    // even if its path was swapped); Windows files have none and this succeeds.
    bool SetMode(uint32_t mode);
    // Waits until the data is on the disk.
    bool Sync();
    // Asks the system to start writing the given range out, without waiting (a hint).
    void StartWriteback(uint64_t offset, uint64_t size);
    // Closes; false when the close reported a failure (a delayed write error among them).
    bool Close();

    // The descriptor or HANDLE, for the few callers that need the system's own calls.
    intptr_t NativeHandle() const { return Native; }

  private:
    // Opens files relative to a directory it holds.
    friend class DirectoryLook;
    static constexpr intptr_t kClosed = -1;
    explicit FileHandle(intptr_t native) : Native(native) {}
    intptr_t Native = kClosed;
};

// What stands at a path, without following a link there.
enum class PathKind { Missing, Regular, Directory, Link, Other };
struct PathStatus {
    PathKind Kind = PathKind::Missing;
    uint64_t Size = 0;  // of a regular file
};
// Missing also when the path cannot be examined at all.
PathStatus ExaminePath(const std::string& path);

// Removes the file (or link) at `path`; true when it is gone, also when it was never there.
bool RemoveFile(const std::string& path);
// Moves `from` over `to` in one step, replacing a file there; on Windows written through to the
// disk before it returns.
bool RenameOver(const std::string& from, const std::string& to);

}  // namespace toval
