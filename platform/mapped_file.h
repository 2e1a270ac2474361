#pragma once
// A whole file mapped into memory read-only: large files are read through the page cache as the
// reader touches them, never copied onto the heap.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace toval {

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

  private:
    void Release();

    void* Data = nullptr;
    size_t Size = 0;
    bool Valid = false;
};

}  // namespace toval
