#pragma once
// Runs another program to its end as a test wants to see it: no input, its standard output and
// error captured, its exit status. The same call on both systems (a Windows test program starts
// Windows programs).

#include <string>
#include <vector>

namespace toval::test {

struct ProgramRun {
    int Status = -1;  // the exit status; -1 when it did not start or did not exit by itself
    std::string Out;
    std::string Err;
};

// `args[0]` is the program: a path, or a name the system looks up (PATH on Linux; on Windows the
// usual places, with ".exe" added). No shell sees any of the arguments.
ProgramRun RunProgram(const std::vector<std::string>& args);

// The file name of a program built beside the test programs ("toval-catalog.exe" on Windows).
std::string BuiltProgram(const std::string& name);

}  // namespace toval::test
