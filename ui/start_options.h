#pragma once
// Everything a front end needs to start a run, in one value: the command line's choices arrive
// here and nowhere else.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "catalog/install_path.h"
#include "platform/line_channel.h"

namespace toval {

struct StartOptions {
    std::string UpdateUrl;      // the catalogue URL in force
    uint32_t CallerWindow = 0;  // the caller's X11 window id, 0 for none
    // Where the client lives; the system's directories when absent. Tests that open several
    // windows at once give each its own, or they would wait for one another's run lock.
    std::optional<BaseDirectories> Directories{};
    // The program's version, for the run's log.
    std::string ProgramVersion{};
    // Check every file's bytes, and repair those that differ (--verify).
    bool Verify = false;
    // The cap on the download rate, bytes a second (--max-rate); 0: none.
    uint64_t MaxRate = 0;
    // Where the progress stream goes (--progress-fd); none without one.
    std::shared_ptr<LineChannel> Progress{};
};

}  // namespace toval
