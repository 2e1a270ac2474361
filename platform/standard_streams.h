#pragma once
// The program's command line and standard streams, made the same on both systems: arguments
// in UTF-8, output bytes as written (UTF-8, "\n" line ends), and a reader that goes away
// failing a write instead of ending the process.

#include <cstdio>
#include <string>
#include <vector>

namespace toval {

// The arguments, argv[0] first, in UTF-8. Windows hands main() its arguments in the ANSI code
// page, which cannot hold every name; there they are read again from the wide command line.
std::vector<std::string> CommandArguments(int argc, char** argv);

// Called once at start-up, before anything is written.
void SetUpStandardStreams();

// True when `stream` (stdout or stderr) is a terminal or console, not a pipe or file.
bool IsTerminal(std::FILE* stream);

}  // namespace toval
