#include "platform/run_lock.h"

namespace toval {

std::string StateDirectory(const std::string& programDir) {
    return (programDir == "/" ? programDir : programDir + "/") + ".toval-updater";
}

}  // namespace toval
