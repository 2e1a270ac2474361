#pragma once
// Fresh temporary files, created empty and never reused.

#include <string>

namespace toval {

// Creates an empty file "<prefix>XXXXXX<suffix>" in TempDirectory() with a name that did not
// exist, readable and writable by the user only. Its path, or empty when none could be created.
std::string CreateTempFile(const std::string& prefix, const std::string& suffix);

}  // namespace toval
