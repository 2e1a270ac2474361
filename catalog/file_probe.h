#pragma once
// What the disk says about a file: present, readable time stamp.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "platform/file_handle.h"
#include "platform/file_identity.h"
#include "platform/file_stamp.h"
#include "platform/win_types.h"

namespace toval {

// A file opened for reading the way the probe counts a file as present: it opens, and it is a
// regular file (a directory, a FIFO or a device is not a file of the client). The handle and its
// size and time are kept, so one decision opens the file once. Closed with the object.
class LocalFile {
  public:
    struct WithIdentity {};

    explicit LocalFile(const std::string& path);
    // Learns the file's identity too, in the same look at the handle.
    LocalFile(const std::string& path, WithIdentity);
    // A file already looked at and then opened: what the look found stands for the handle's.
    LocalFile(FileHandle file, const IdentifiedFile& known);

    bool IsOpen() const { return File.IsOpen(); }
    uint64_t Size() const { return Stamp.Size; }
    FILETIME LastWrite() const { return Stamp.LastWrite; }
    // Zero unless opened WithIdentity or from a look.
    const FileIdentity& Identity() const { return Id; }
    // The handle's stamp and identity as they are now; nothing when it is closed.
    std::optional<IdentifiedFile> IdentifyNow() const { return IdentifyFile(File); }
    // The version resource of the open file: 0 and `out` filled, or a negative status.
    int32_t ReadVersion(VS_FIXEDFILEINFO& out) const;
    // Positioned reads of the open file, for hashing it; see FileHandle::ReadAt.
    int64_t ReadAt(void* data, size_t size, uint64_t offset) const {
        return File.ReadAt(data, size, offset);
    }

  private:
    FileHandle File;
    FileStamp Stamp;
    FileIdentity Id;
};

// The SHA-256 of the first Size() bytes of the open file, read through `buffer` (grown as
// needed and kept for the next file); nothing when they cannot all be read.
std::optional<Sha256Digest> HashLocalFile(const LocalFile& file, std::vector<uint8_t>& buffer);

// True when the file can be opened for reading; a file that cannot be opened counts as absent.
bool FileExists(const std::string& path);

// The file's last-write time; 0 or a negative status.
int32_t ReadFileDate(const std::string& path, FILETIME& out);

}  // namespace toval
