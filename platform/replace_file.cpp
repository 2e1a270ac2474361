#include "platform/replace_file.h"

#include <optional>

#include "platform/disk_space.h"
#include "platform/file_handle.h"
#include "platform/unique_file.h"
#include "platform/utf8_path.h"

namespace toval {

bool ReplaceFileWith(const std::string& path, std::string_view content, Durability durability) {
    const bool synced = durability == Durability::Synced;
    FileHandle file;
    const std::optional<std::string> temp = CreateFileBeside(path, file);
    if (!temp) return false;
    bool ok = file.WriteAll(content.data(), content.size()) && (!synced || file.Sync());
    ok = file.Close() && ok;
    ok = ok && RenameOver(*temp, path);
    if (!ok) {
        RemoveFile(*temp);
        return false;
    }
    // The rename itself must reach the disk, or a crash could bring the old content back.
    return !synced || SyncDirectory(ParentDirectory(path));
}

}  // namespace toval
