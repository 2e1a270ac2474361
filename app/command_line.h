#pragma once
// The updater's command line:
// "[--console] [--verify] [--max-rate RATE] [--progress-fd N] [URL,HANDLE]".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace toval {

// The catalogue URL the updater uses when the command line names none.
inline constexpr std::string_view kDefaultUpdateUrl = "http://update.toval.com/update/update.xml";

struct CommandLine {
    std::string UpdateUrl{kDefaultUpdateUrl};
    uint32_t CallerWindow = 0;
    bool Console = false;
    // Where the progress stream goes: a descriptor (a handle on Windows) the launcher passed.
    std::optional<uint64_t> ProgressFd;
    // Check every file's bytes (--verify).
    bool Verify = false;
    // The cap on the download rate in bytes a second; 0: none.
    uint64_t MaxRate = 0;
    // A non-empty argument string that is not "URL,HANDLE" and so gave way to the defaults; kept
    // so the console can say why the default URL is used.
    std::string IgnoredArgument;
};

// The exit status of a command line the updater does not understand.
inline constexpr int kExitUsage = 2;

// What the command line asks for before any update starts.
enum class CommandLineRequest {
    Update,         // run the update
    Help,           // --help or -h
    Version,        // --version
    UnknownOption,  // any other word that starts with '-', except the update's own options
    BadValue,       // an update option without its value, or with one it cannot take
};

struct OptionCheck {
    CommandLineRequest Request = CommandLineRequest::Update;
    std::string Option;  // the unknown option or the one with a bad value, as given
};

// Looks through the arguments for the options that end the program at once; the first such word
// decides. "--console" belongs to the update. A lone "-" or a word such as "-1" is not an option:
// it can be the end of an argument string split by the shell ("URL, -1").
OptionCheck CheckOptions(int argc, const char* const* argv);

// The text of --help, ending in a line end.
std::string UsageText();

// The project's version, as "--version" prints it after the program's name.
extern const char kVersionText[];

// "" when nothing was ignored, else one line (with its line end) for standard error saying which
// argument was ignored and which URL is used instead.
std::string IgnoredArgumentNote(const CommandLine& line);

// Everything after the program name with the update's own options (and their values) removed,
// joined by single blanks. Sets `console` when "--console" was among the arguments.
std::string ArgumentString(int argc, const char* const* argv, bool& console);

// Applies the argument string "URL,HANDLE" to `out`. A string without a comma, or starting with
// one, leaves the defaults (and, when not empty, is kept as IgnoredArgument); otherwise the URL is
// the text before the first comma, unchanged, and the handle the low 32 bits of the signed decimal
// number after it.
void ParseArgumentString(std::string_view arguments, CommandLine& out);

// The number at the start of `text`: leading white space, one optional sign, then decimal digits
// (any of Unicode's decimal digits, in UTF-8) up to the first other character; wraps modulo
// 2^64; 0 when there are no digits.
int64_t ParseDecimal64(std::string_view text);

CommandLine ParseCommandLine(int argc, const char* const* argv);

// A rate as --max-rate takes it: a whole number of bytes a second, optionally followed by K, M or
// G (binary multiples, either case); nothing for zero, an overflow or anything else.
std::optional<uint64_t> ParseRate(std::string_view text);

}  // namespace toval
