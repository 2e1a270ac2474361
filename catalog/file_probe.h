#pragma once
// What the disk says about a file: present, readable time stamp.

#include <cstdint>
#include <string>

#include "platform/win_types.h"

namespace toval {

// True when the file can be opened for reading; a file that cannot be opened counts as absent.
bool FileExists(const std::string& path);

// The file's last-write time; 0 or a negative status.
int32_t ReadFileDate(const std::string& path, FILETIME& out);

}  // namespace toval
