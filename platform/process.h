#pragma once
// Starting other programs: detached, never waited for, never left as zombies, and always with
// an argument vector (no shell ever sees a path or a parameter).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace toval {

enum class ProgramKind {
    Missing,  // no regular file at the path
    Native,   // an ELF file or a "#!" script that we may execute (Linux only)
    Windows,  // a PE program ("MZ"): run directly on Windows, through Wine on Linux
    Other,    // anything else: a document for the desktop's default handler
};

// What kind of file stands at `path`.
ProgramKind ClassifyProgram(const std::string& path);

// The first executable regular file called `name` in the directories of $PATH; empty when none.
// A name holding a '/' (or on Windows a '\\') is not searched.
std::string FindInPath(const std::string& name);

// One file step taken as soon as a started program runs (or has failed to start), by a process
// of its own that a kill of this one cannot stop: the record that a start is due is dropped
// exactly when the start happened, never before, and not a moment too late. From empty: To is
// removed; otherwise From is renamed over To. Done is set when the step was handed over; when it
// was not (the start never got that far, or the system has no such process), it is the caller's.
struct StartMark {
    std::string From;
    std::string To;
    bool Done = false;
};

// Starts `program` (a path, not searched) with `args` as its arguments (argv[1] onwards) in a
// new session, and returns at once. The program's standard streams are /dev/null and it inherits
// none of our descriptors. True when the program was executed.
bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   StartMark* mark = nullptr);

// Starts `path`: a native program directly with `args`; a Windows program through wine (when on
// PATH) with `args`; anything else through xdg-open, without the arguments. True when started.
bool StartFile(const std::string& path, const std::vector<std::string>& args,
               StartMark* mark = nullptr);

// What the run does with the programs of the client. None of them is waited for.

// Starts an installed file as its `Execute` flag asks, with the catalogue's parameter string.
// Windows hands the string to the shell's default action for the file as it stands (the program
// reads its own command line); Linux splits it as a shell would (an open quote: not started).
bool ExecuteFile(const std::string& path, const std::string& parameters, StartMark* mark = nullptr);
// Registers the component at `path` with "regsvr32 /s", the path one argument. On Windows the
// regsvr32 of the system directory that matches the file's machine type (a 32-bit DLL needs the
// 32-bit one); on Linux the first regsvr32 on PATH.
bool RegisterComponent(const std::string& path, StartMark* mark = nullptr);
// The regsvr32 RegisterComponent starts for `path`; empty when there is none.
std::string RegistrationProgram(const std::string& path);
// Starts the program at `path` with `args`: a Windows program directly on Windows and through
// wine on Linux, a native Linux program directly; anything else is not started.
bool StartProgram(const std::string& path, const std::vector<std::string>& args,
                  StartMark* mark = nullptr);

// This process's id, as the system shows it.
uint32_t CurrentProcessId();

}  // namespace toval
