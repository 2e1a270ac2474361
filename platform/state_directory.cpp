#include "platform/run_lock.h"

#include "platform/path_join.h"

namespace toval {

std::string StateDirectory(const std::string& programDir) {
    return JoinPath(programDir, ".toval-updater");
}

}  // namespace toval
