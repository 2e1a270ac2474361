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

// The lines of `text`, without their line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace toval::test
