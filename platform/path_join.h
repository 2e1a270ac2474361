#pragma once
// Naming a file inside a directory.

#include <string>
#include <string_view>

namespace toval {

// `name` inside `dir`, with one separator between them: none is added when `dir` ends in one
// already, as a root ("/", "C:\") does. Only '/' separates on Linux, where a backslash is an
// ordinary character of a name; Windows takes either.
std::string JoinPath(std::string_view dir, std::string_view name);

}  // namespace toval
