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

// `env` replaces the environment entirely. Output goes through files in `scratch`.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const std::string& scratch,
                         std::chrono::seconds limit = std::chrono::seconds(60));

// The lines of `text`, without their line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace toval::test
