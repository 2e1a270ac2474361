#pragma once
// The updater's command line: "[--console] [URL,HANDLE]".

#include <cstdint>
#include <string>
#include <string_view>

namespace toval {

// The catalogue URL the updater uses when the command line names none.
inline constexpr std::string_view kDefaultUpdateUrl = "http://update.toval.com/update/update.xml";

struct CommandLine {
    std::string UpdateUrl{kDefaultUpdateUrl};
    uint32_t CallerWindow = 0;
    bool Console = false;
};

// Everything after the program name with every "--console" removed, joined by single blanks.
// Sets `console` when "--console" was among the arguments.
std::string ArgumentString(int argc, const char* const* argv, bool& console);

// Applies the argument string "URL,HANDLE" to `out`. A string without a comma, or starting with
// one, leaves the defaults; otherwise the URL is the text before the first comma, unchanged, and
// the handle the low 32 bits of the signed decimal number after it.
void ParseArgumentString(std::string_view arguments, CommandLine& out);

// The number at the start of `text`: leading white space, one optional sign, then decimal digits
// (any of Unicode's decimal digits, in UTF-8) up to the first other character; wraps modulo
// 2^64; 0 when there are no digits.
int64_t ParseDecimal64(std::string_view text);

CommandLine ParseCommandLine(int argc, const char* const* argv);

}  // namespace toval
