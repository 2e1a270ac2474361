#pragma once
// What a console program of ours sets up before anything else: its arguments as UTF-8, and
// standard streams that carry the bytes written to them unchanged.

#include <string>
#include <vector>

namespace toval {

// The arguments, the program's name first. Windows hands `argv` over in the ANSI code page, which
// cannot spell every file name; there they are read from the wide command line instead.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Standard output and error in binary mode: what goes out (a catalogue with its own CR LF line
// ends, UTF-8 messages) is not rewritten on the way. Nothing to do where streams are bytes anyway.
void UseBinaryStandardStreams();

}  // namespace toval
