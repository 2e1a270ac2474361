#pragma once
// Reads VS_FIXEDFILEINFO from the version resource of a PE32 or PE32+ file by walking the
// resource directory, never by scanning for the signature. Only the headers, the section table
// and the bytes on the path to the version block are read. Every offset and size that comes from
// the file is checked, so a truncated or hostile file ends in a negative status.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/win_types.h"

namespace toval {

// ERROR_BAD_EXE_FORMAT: a file that is no image, or whose headers do not hold together.
inline constexpr int32_t kErrorBadExeFormat = 193;

// Positional reads from an image; returns false when the range is not wholly available.
class ImageSource {
  public:
    virtual ~ImageSource() = default;
    virtual bool ReadAt(uint64_t offset, void* buffer, std::size_t size) = 0;
    virtual uint64_t Size() const = 0;
};

// Reads through pread from a descriptor that the caller keeps open. A small window of the file is
// kept in memory, so that the headers, the section table and a compact resource section cost one
// or two reads in all.
class FdImageSource : public ImageSource {
  public:
    FdImageSource(int fd, uint64_t size) : Fd(fd), FileSize(size) {}
    bool ReadAt(uint64_t offset, void* buffer, std::size_t size) override;
    uint64_t Size() const override { return FileSize; }

  private:
    static constexpr std::size_t kWindowSize = 1024;
    int Fd;
    uint64_t FileSize;
    uint64_t WindowOffset = 0;
    std::size_t WindowLength = 0;
    uint8_t Window[kWindowSize];
};

// Status 0 and `out` filled, or a negative status (see status.h) when the image has no readable
// version resource.
int32_t ReadFixedFileInfo(ImageSource& image, VS_FIXEDFILEINFO& out);
int32_t ReadFixedFileInfo(std::span<const uint8_t> image, VS_FIXEDFILEINFO& out);
int32_t ReadFixedFileInfo(const std::string& path, VS_FIXEDFILEINFO& out);

}  // namespace toval
