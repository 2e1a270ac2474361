#pragma once
// The directories where the system keeps its own programs. The updater works on the directory of
// its own executable, so a copy started from one of them (a package's, or one put there by hand)
// would write a client's files among the system's programs, and a catalogue naming any program
// there would replace it: such a directory is refused before anything is fetched.

#include <string>
#include <vector>

namespace toval {

// Linux: the directories of the system's default PATH, those the C library gives and those
// distributions put on every user's PATH (/usr/local/sbin, /usr/local/bin, /usr/sbin, /usr/bin,
// /sbin, /bin, /usr/games, /usr/local/games). Windows: the Windows directory, its System32 and
// SysWOW64.
std::vector<std::string> SystemProgramDirectories();

// Whether `directory` is one of `systemDirectories`, both sides resolved first: on Linux through
// symbolic links (on a merged /usr, /bin is /usr/bin), a path that does not exist by its text
// alone; on Windows as full paths through junctions and links, without regard to letter case. An
// empty `directory` is none of them.
bool IsSystemProgramDirectory(const std::string& directory,
                              const std::vector<std::string>& systemDirectories);

// The same against SystemProgramDirectories().
bool IsSystemProgramDirectory(const std::string& directory);

}  // namespace toval
