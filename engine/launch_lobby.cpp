// Starting the game lobby at the end of a finished run.

#include <unistd.h>

#include <string>

#include "engine/CUpdateRun.h"
#include "engine/status_texts.h"
#include "platform/directories.h"
#include "platform/process.h"

namespace toval {

namespace {

std::string CurrentDirectory() {
    char buffer[4096];
    return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

// Where the lobby is looked for, in the order Windows looks for a program: beside the updater,
// in the current directory, then on PATH. The first file found is the one used.
std::string FindLobby() {
    const std::string name(kLobbyProgram);
    for (const std::string& dir : {ProgramDirectory(), CurrentDirectory()}) {
        if (dir.empty()) continue;
        const std::string path = (dir == "/" ? dir : dir + "/") + name;
        if (ClassifyProgram(path) != ProgramKind::Missing) return path;
    }
    return FindInPath(name);
}

}  // namespace

void CUpdateRun::LaunchLobby() {
    // A file that is not a program we can run is skipped, as a missing lobby is.
    if (const std::string lobby = FindLobby(); !lobby.empty())
        StartProgram(lobby, {std::string(kLobbyArgument)});
}

}  // namespace toval
