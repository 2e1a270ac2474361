#pragma once
// Splits a parameter string into words as a POSIX shell does, without running one: blanks
// separate words, '...' is literal, "..." keeps blanks and honours \" \\ \$ \` and a backslash
// newline, and a backslash outside quotes takes the next character literally. Nothing is
// expanded: no variables, no globbing, no command substitution.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace toval {

// Nullopt for an unterminated quote or a trailing lone backslash.
std::optional<std::vector<std::string>> SplitShellWords(std::string_view text);

// The other way round, for Windows: one command line that the C runtime's and
// CommandLineToArgvW's parsing split back into exactly `words` (blanks, quotes and backslashes
// before quotes included).
std::string JoinWindowsCommandLine(const std::vector<std::string>& words);

}  // namespace toval
