#pragma once
// The directories the install-path macros and the temporary catalogue file resolve to.

#include <string>

namespace toval {

// Directory of /proc/self/exe, without a trailing separator ("/" for the root).
std::string ProgramDirectory();

// ${WINEPREFIX:-$HOME/.wine}/drive_c/windows and its system32: where a Linux player keeps the
// Windows components of a Wine installation.
std::string WindowsDirectory();
std::string SystemDirectory();

// $TMPDIR when set and non-empty, else /tmp; without a trailing separator.
std::string TempDirectory();

}  // namespace toval
