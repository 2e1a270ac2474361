// The real clock and program starts the program runs with.

#include <filesystem>
#include <string>
#include <system_error>

#include "engine/run_services.h"
#include "engine/status_texts.h"
#include "platform/directories.h"
#include "platform/path_join.h"
#include "platform/process.h"
#include "platform/utf8_path.h"

namespace toval {

namespace {

std::string CurrentDirectory() {
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::current_path(ec);
    return ec ? std::string() : Utf8OfPath(dir);
}

// Where the lobby is looked for, in the order Windows looks for a program: beside the updater,
// in the current directory, then on PATH. The first file found is the one used.
std::string FindLobby() {
    const std::string name(kLobbyProgram);
    for (const std::string& dir : {ProgramDirectory(), CurrentDirectory()}) {
        if (dir.empty()) continue;
        const std::string path = JoinPath(dir, name);
        if (ClassifyProgram(path) != ProgramKind::Missing) return path;
    }
    return FindInPath(name);
}

class SteadyClock final : public IRunClock {
  public:
    std::chrono::steady_clock::time_point Now() const override {
        return std::chrono::steady_clock::now();
    }
};

class Programs final : public IProgramStarter {
  public:
    void Execute(const std::string& path, const std::string& parameters, StartMark* mark) override {
        ExecuteFile(path, parameters, mark);
    }
    // The path is one argument, blanks and all.
    void Register(const std::string& path, StartMark* mark) override {
        RegisterComponent(path, mark);
    }
    void StartLobby() override {
        // A file that is not a program we can run is skipped, as a missing lobby is.
        if (const std::string lobby = FindLobby(); !lobby.empty())
            StartProgram(lobby, {std::string(kLobbyArgument)});
    }
};

}  // namespace

IRunClock& SystemClock() {
    static SteadyClock clock;
    return clock;
}

IProgramStarter& SystemPrograms() {
    static Programs programs;
    return programs;
}

}  // namespace toval
