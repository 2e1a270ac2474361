#include "platform/temp_file.h"

#include <stdlib.h>
#include <unistd.h>

#include "platform/directories.h"
#include "platform/path_join.h"

namespace toval {

std::string CreateTempFile(const std::string& prefix, const std::string& suffix) {
    std::string pattern = JoinPath(TempDirectory(), prefix + "XXXXXX" + suffix);
    const int fd = ::mkstemps(pattern.data(), static_cast<int>(suffix.size()));
    if (fd < 0) return {};
    ::close(fd);
    return pattern;
}

}  // namespace toval
