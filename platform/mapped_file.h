#pragma once
// Files mapped into memory: large files are read or written through the page cache as the code
// touches them, never copied onto the heap.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace toval {

class FileHandle;

// A whole file mapped read-only.
class MappedFile {
  public:
    MappedFile() = default;
    // Maps the regular file at `path` (never through a link); Ok() is false when it cannot.
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool Ok() const { return Valid; }
    // The bytes; empty for an empty file.
    std::string_view Bytes() const { return {static_cast<const char*>(Data), Size}; }
    // Lets the process's memory go of the pages of [offset, offset + size) read so far; the
    // bytes stay readable (read again from the page cache). A hint: nothing happens where the
    // system has no such call.
    void Forget(size_t offset, size_t size) const;

  private:
    void Release();

    void* Data = nullptr;
    size_t Size = 0;
    bool Valid = false;
};

// The first `size` bytes of an open file mapped for writing: what is written there is the file's
// content. The file must be open for reading and writing and already hold `size` bytes
// (FileHandle::Reserve), so that no write through the mapping can fail for want of space.
class WritableMapping {
  public:
    WritableMapping(const FileHandle& file, uint64_t size);
    // Unmaps; the written bytes stay in the file.
    ~WritableMapping();
    WritableMapping(const WritableMapping&) = delete;
    WritableMapping& operator=(const WritableMapping&) = delete;

    bool Ok() const { return Size == 0 || Data != nullptr; }
    char* Bytes() const { return static_cast<char*>(Data); }
    // Hands what was written so far to the file, so that a FileHandle::Sync then puts it on the
    // disk. On Linux the file and its mappings share their pages, and the sync covers both.
    bool Flush();

  private:
    void* Data = nullptr;
    size_t Size = 0;
};

}  // namespace toval
