#pragma once
// Which file an open handle is, beyond its name: a fact learnt about a file's bytes stays true
// while this is unchanged, since writing to the file moves its change time, which no ordinary
// program can set back (unlike the modification time).

#include <cstdint>
#include <optional>

#include "platform/file_handle.h"
#include "platform/file_stamp.h"

#ifndef _WIN32
struct stat;
#endif

namespace toval {

struct FileIdentity {
    uint64_t Device = 0;  // st_dev; the volume serial number on Windows
    uint64_t Index = 0;   // the inode; the file index on Windows
    uint64_t Size = 0;
    uint64_t Written = 0;  // modification time, in the system's own units
    uint64_t Changed = 0;  // inode change time; Windows' ChangeTime

    bool operator==(const FileIdentity&) const = default;
};

struct IdentifiedFile {
    FileStamp Stamp;
    FileIdentity Identity;
};

// The stamp and the identity of an open regular file, read in one look where the system allows;
// nothing when the handle is closed, is not a regular file, or cannot be examined.
std::optional<IdentifiedFile> IdentifyFile(const FileHandle& file);

#ifndef _WIN32
// The same from what stat(2) told of a file, for callers that looked at it by name.
IdentifiedFile IdentifiedFromStat(const struct stat& st);
#endif

}  // namespace toval
