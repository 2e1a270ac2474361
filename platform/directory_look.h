#pragma once
// Looking at many files of one directory: the directory is opened once, and each file is then
// examined by its name relative to it, in one system call and without walking its path again,
// and opened only when its bytes are wanted. A check of a large client looks at every file and
// reads almost none.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file_handle.h"
#include "platform/file_identity.h"

namespace toval {

struct LookedFile {
    IdentifiedFile Known;
    // Open where the system can only look at a file by opening it (Windows): Open hands it on.
    FileHandle Handle;
};

class DirectoryLook {
  public:
    explicit DirectoryLook(const std::string& path);
    ~DirectoryLook();
    DirectoryLook(DirectoryLook&& other) noexcept;
    DirectoryLook& operator=(DirectoryLook&&) = delete;
    DirectoryLook(const DirectoryLook&) = delete;
    DirectoryLook& operator=(const DirectoryLook&) = delete;

    bool IsOpen() const;
    // The file `name` in the directory as reading it would find it: a symbolic link is followed,
    // and nothing is returned for a file that is missing, is not a regular file, or could not be
    // opened for reading (it counts as absent).
    std::optional<LookedFile> Look(const std::string& name) const;
    // The file looked at, opened for reading; closed when it cannot be.
    FileHandle Open(const std::string& name, LookedFile& looked) const;

  private:
    std::string Path;
    intptr_t Native = -1;
};

}  // namespace toval
