#pragma once
// Diagnostics for developers: on the terminal only when TOVAL_UPDATER_DEBUG is set in the
// environment.

#include <string>

namespace toval {

// Writes `text` and a newline to stderr when TOVAL_UPDATER_DEBUG is set and not empty; on
// Windows also, always, to the debugger's output.
void DebugOutput(const std::string& text);

}  // namespace toval
