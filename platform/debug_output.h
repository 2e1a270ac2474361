#pragma once
// Diagnostics for developers: silent unless TOVAL_UPDATER_DEBUG is set in the environment.

#include <string>

namespace toval {

// Writes `text` and a newline to stderr when TOVAL_UPDATER_DEBUG is set and not empty.
void DebugOutput(const std::string& text);

}  // namespace toval
