#include "platform/directory_look.h"
#include "platform/path_join.h"

namespace toval {

// Windows has no look at a file by a name relative to an open directory that is cheaper than
// opening it, so the look opens the file and keeps the handle for Open.
DirectoryLook::DirectoryLook(const std::string& path) : Path(path), Native(0) {}

DirectoryLook::~DirectoryLook() = default;

DirectoryLook::DirectoryLook(DirectoryLook&& other) noexcept
    : Path(std::move(other.Path)), Native(other.Native) {}

bool DirectoryLook::IsOpen() const { return true; }

std::optional<LookedFile> DirectoryLook::Look(const std::string& name) const {
    LookedFile out;
    out.Handle = FileHandle::Open(JoinPath(Path, name), OpenFor::Read);
    const std::optional<IdentifiedFile> known = IdentifyFile(out.Handle);
    if (!known) return std::nullopt;
    out.Known = *known;
    return out;
}

FileHandle DirectoryLook::Open(const std::string& name, LookedFile& looked) const {
    if (looked.Handle.IsOpen()) return std::move(looked.Handle);
    return FileHandle::Open(JoinPath(Path, name), OpenFor::Read);
}

}  // namespace toval
