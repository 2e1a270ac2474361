#pragma once
// The install-path macros: which directory a catalogue file lives in on this machine.

#include <string>

namespace toval {

class CFileEntry;

struct BaseDirectories {
    std::string ProgramDir;  // "CURRENTDIR" and every unrecognised value
    std::string WindowsDir;  // "WINDOWSDIR"
    std::string SystemDir;   // "SYSTEMDIR"

    static BaseDirectories FromSystem();
};

// The base directory chosen by an InstallDir value (ASCII case folded).
const std::string& BaseForInstallDir(const BaseDirectories& dirs, const std::string& installDir);

// Sets entry.FullPath from InstallDir, LocalPath and FileName. Backslashes become '/'.
// Returns false, and leaves FullPath empty, when FileName or LocalPath is absolute or climbs out
// of the base directory with "..": such an entry must never be downloaded or written.
bool BuildFullPath(CFileEntry& entry, const BaseDirectories& dirs);

}  // namespace toval
