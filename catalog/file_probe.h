#pragma once
// What the disk says about a file: present, readable time stamp.

#include <sys/stat.h>
#include <cstdint>

#include <string>

#include "platform/win_types.h"

namespace toval {

// A file opened for reading the way the probe counts a file as present: it opens, and it is a
// regular file (a directory, a FIFO or a device is not a file of the client). The descriptor and
// its fstat are kept, so one decision opens the file once. Closed with the object.
class LocalFile {
  public:
    explicit LocalFile(const std::string& path);
    ~LocalFile();
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    bool IsOpen() const { return Fd >= 0; }
    int Descriptor() const { return Fd; }
    const struct stat& Stat() const { return Info; }
    // 0 when open, else the negative status of the failure.
    int32_t Status() const { return Error; }

  private:
    int Fd = -1;
    struct stat Info {};
    int32_t Error = 0;
};

// True when the file can be opened for reading; a file that cannot be opened counts as absent.
bool FileExists(const std::string& path);

// The file's last-write time; 0 or a negative status.
int32_t ReadFileDate(const std::string& path, FILETIME& out);

}  // namespace toval
