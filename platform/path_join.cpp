#include "platform/path_join.h"

namespace toval {

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string path(dir);
#ifdef _WIN32
    const bool endsInSeparator = path.ends_with('/') || path.ends_with('\\');
#else
    const bool endsInSeparator = path.ends_with('/');
#endif
    if (!endsInSeparator) path += '/';
    path += name;
    return path;
}

}  // namespace toval
