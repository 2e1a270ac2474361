#pragma once
// Runs a program as a child process with its own environment, capturing stdout and stderr,
// and waits for it (killed after a time limit so a hang fails the test instead of blocking it).

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace toval::test {

struct ProcessResult {
    int ExitStatus = -1;  // -1: killed or not started
    std::string Out;
    std::string Err;
};

// A child started without waiting for it, for tests that act while it runs. `env` replaces the
// environment entirely; output goes through files in `scratch`, one child per scratch directory.
// A program whose name ends in ".exe" runs under Wine, in the Wine prefix of our environment.
class ChildProcess {
  public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, const std::string& scratch);
    ~ChildProcess();  // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int Pid() const { return ChildPid; }
    // What the child has written to standard output so far.
    std::string OutputSoFar() const;
    // Waits for the end (killing the child after `limit`) and collects its output.
    ProcessResult Wait(std::chrono::milliseconds limit = std::chrono::seconds(60));

  private:
    std::string OutPath, ErrPath;
    int ChildPid = -1;
};

// Starts the program and waits for it, as ChildProcess does.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const std::string& scratch,
                         std::chrono::seconds limit = std::chrono::seconds(60));

// The environment an updater under test gets: its own home and temporary directory below
// `root` (root/home, root/tmp), no display, a UTF-8 locale, and `path` to find programs on.
std::map<std::string, std::string> UpdaterEnvironment(const std::string& root,
                                                      const std::string& path = "/usr/bin:/bin");

// The updater these tests run: this build's toval-updater, or, when $TOVAL_E2E_WINDOWS_BIN names
// the bin directory of the Windows build, its toval-updater.exe under Wine. The publisher's side
// (toval-catalog, nginx) is this build's either way.
bool TestingWindowsUpdater();
// The path of the program `name` ("toval-updater", "toval-catalog") of the build under test.
std::string ProgramUnderTest(const std::string& name);
// Copies the updater under test into `clientDir`; its path there.
std::string InstallUpdater(const std::string& clientDir);
// Its file name in the client directory.
std::string UpdaterFileName();
// A lobby.exe in `clientDir` that writes its arguments, one per line, to lobby.txt beside itself:
// a script on Linux, a Windows program for the Windows updater.
void InstallLobby(const std::string& clientDir);
// Skips the running test when it checks something only the Linux updater has.
#define TOVAL_LINUX_UPDATER_ONLY(why) \
    if (::toval::test::TestingWindowsUpdater()) GTEST_SKIP() << "Linux only: " << why

// The lines of `text`, without their line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace toval::test
