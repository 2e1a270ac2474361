#include "platform/temp_file.h"

#include <stdlib.h>
#include <unistd.h>

#include "platform/directories.h"

namespace toval {

std::string CreateTempFile(const std::string& prefix, const std::string& suffix) {
    const std::string dir = TempDirectory();
    std::string pattern = (dir == "/" ? dir : dir + "/") + prefix + "XXXXXX" + suffix;
    const int fd = ::mkstemps(pattern.data(), static_cast<int>(suffix.size()));
    if (fd < 0) return {};
    ::close(fd);
    return pattern;
}

}  // namespace toval
