#include "tests/e2e/UpdaterProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/TempDir.h"

namespace toval::test {

namespace {
// Debian keeps the 64-bit loader off PATH.
constexpr const char* kWineLoader = "/usr/lib/wine/wine64";

std::string WindowsBin() {
    const char* dir = std::getenv("TOVAL_E2E_WINDOWS_BIN");
    return dir && *dir ? dir : "";
}
}  // namespace

bool TestingWindowsUpdater() { return !WindowsBin().empty(); }

std::string UpdaterFileName() {
    return TestingWindowsUpdater() ? "toval-updater.exe" : "toval-updater";
}

std::string ProgramUnderTest(const std::string& name) {
    return TestingWindowsUpdater() ? WindowsBin() + "/" + name + ".exe"
                                   : std::string(TOVAL_BIN_DIR) + "/" + name;
}

std::string InstallUpdater(const std::string& clientDir) {
    const std::string to = clientDir + "/" + UpdaterFileName();
    std::filesystem::copy_file(ProgramUnderTest("toval-updater"), to);
    return to;
}

void InstallLobby(const std::string& clientDir) {
    const std::string lobby = clientDir + "/lobby.exe";
    if (TestingWindowsUpdater()) {
        std::filesystem::copy_file(WindowsBin() + "/toval-record-arguments.exe", lobby);
        return;
    }
    std::ofstream(lobby) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/lobby.txt\"\n";
    std::filesystem::permissions(lobby, std::filesystem::perms::owner_all);
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env,
                           const std::string& scratch)
    : OutPath(scratch + "/stdout.txt"), ErrPath(scratch + "/stderr.txt") {
    std::map<std::string, std::string> environment = env;
    std::vector<std::string> words{program};
    if (program.ends_with(".exe")) {
        words.insert(words.begin(), kWineLoader);
        // Wine keeps files of its own under HOME and TMPDIR (menus, its temporary directory):
        // it gets ours, so that the directories a test gives the updater show the updater's
        // writes alone. The Windows updater's own folders live in the prefix.
        for (const char* name : {"WINEPREFIX", "WINEDEBUG", "WINESERVER", "HOME", "TMPDIR"}) {
            if (const char* value = std::getenv(name)) {
                environment[name] = value;
            } else {
                environment.erase(name);
            }
        }
    }
    words.insert(words.end(), args.begin(), args.end());
    std::vector<std::string> envStrings;
    for (const auto& [key, value] : environment) envStrings.push_back(key + "=" + value);
    std::vector<char*> argv;
    for (const std::string& a : words) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(ErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ChildPid = pid;
}

ChildProcess::~ChildProcess() {
    if (ChildPid <= 0) return;
    ::kill(ChildPid, SIGKILL);
    ::waitpid(ChildPid, nullptr, 0);
}

std::string ChildProcess::OutputSoFar() const { return ReadFile(OutPath); }

ProcessResult ChildProcess::Wait(std::chrono::milliseconds limit) {
    ProcessResult result;
    if (ChildPid <= 0) return result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(ChildPid, &status, WNOHANG);
        if (done == ChildPid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(ChildPid, SIGKILL);
            ::waitpid(ChildPid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ChildPid = -1;
    if (status != -1 && WIFEXITED(status)) result.ExitStatus = WEXITSTATUS(status);
    result.Out = ReadFile(OutPath);
    result.Err = ReadFile(ErrPath);
    return result;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const std::string& scratch,
                         std::chrono::seconds limit) {
    return ChildProcess(program, args, env, scratch).Wait(limit);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::map<std::string, std::string> UpdaterEnvironment(const std::string& root,
                                                      const std::string& path) {
    return {{"PATH", path},
            {"HOME", root + "/home"},
            {"TMPDIR", root + "/tmp"},
            {"DISPLAY", ""},
            {"LANG", "C.UTF-8"}};
}

}  // namespace toval::test
