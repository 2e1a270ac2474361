#pragma once
// Starting other programs: detached, never waited for, never left as zombies, and always with
// an argument vector (no shell ever sees a path or a parameter).

#include <optional>
#include <string>
#include <vector>

namespace toval {

enum class ProgramKind {
    Missing,  // no regular file at the path
    Native,   // an ELF file or a "#!" script that we may execute
    Windows,  // a PE program ("MZ"), which needs Wine here
    Other,    // anything else: a document for the desktop's default handler
};

// What kind of file stands at `path`.
ProgramKind ClassifyProgram(const std::string& path);

// The first executable regular file called `name` in the directories of $PATH; empty when none.
// A name holding a '/' is not searched.
std::string FindInPath(const std::string& name);

// Starts `program` (a path, not searched) with `args` as its arguments (argv[1] onwards) in a
// new session, and returns at once. The program's standard streams are /dev/null and it inherits
// none of our descriptors. True when the program was executed.
bool StartDetached(const std::string& program, const std::vector<std::string>& args);

// Starts `path`: a native program directly with `args`; a Windows program through wine (when on
// PATH) with `args`; anything else through xdg-open, without the arguments. True when started.
bool StartFile(const std::string& path, const std::vector<std::string>& args);

}  // namespace toval
