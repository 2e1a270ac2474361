#include "catalog/client_files.h"

namespace toval {

std::optional<ClientFiles::Found> ClientFiles::Look(const std::string& fullPath) {
    const std::size_t slash = fullPath.rfind('/');
    if (slash == std::string::npos) return std::nullopt;
    const std::string_view dir =
        slash == 0 ? std::string_view("/") : std::string_view(fullPath).substr(0, slash);
    auto it = Directories.find(dir);
    if (it == Directories.end()) {
        if (Directories.size() >= kMaxOpen) Directories.clear();
        std::string path(dir);
        it = Directories.emplace(path, DirectoryLook(path)).first;
    }
    Found found;
    found.Name = fullPath.substr(slash + 1);
    std::optional<LookedFile> looked = it->second.Look(found.Name);
    if (!looked) return std::nullopt;
    found.File = std::move(*looked);
    found.Directory = &it->second;
    return found;
}

}  // namespace toval
