#include "app/command_line.h"

#include "platform/text.h"

namespace toval {

int64_t ParseDecimal64(std::string_view text) {
    const bool negative = TakeSpaceAndSign(text);
    uint64_t value = 0;  // unsigned, so overflow wraps as defined
    while (const std::optional<unsigned> digit = TakeUnicodeDigit(text))
        value = value * 10 + *digit;
    if (negative) value = 0 - value;
    return static_cast<int64_t>(value);
}

namespace {
// The update's own options. One with a value takes the next word, or what follows "=".
struct UpdateOption {
    std::string_view Name;
    bool TakesValue;
};
constexpr UpdateOption kUpdateOptions[] = {
    {"--console", false},
    {"--verify", false},
    {"--max-rate", true},
    {"--progress-fd", true},
};

struct FoundOption {
    const UpdateOption* Option = nullptr;
    std::optional<std::string_view> Value;  // for an option with a value: nothing when missing
    int Words = 1;                          // how many words it takes
};

std::string_view Word(int argc, const char* const* argv, int i) {
    return i < argc && argv[i] ? argv[i] : "";
}

// The update option at word `i`, or none.
FoundOption FindUpdateOption(int argc, const char* const* argv, int i) {
    const std::string_view arg = Word(argc, argv, i);
    for (const UpdateOption& option : kUpdateOptions) {
        if (arg == option.Name) {
            FoundOption found{&option, std::nullopt, 1};
            if (option.TakesValue && i + 1 < argc) {
                found.Value = Word(argc, argv, i + 1);
                found.Words = 2;
            }
            return found;
        }
        if (option.TakesValue && arg.starts_with(option.Name) && arg.size() > option.Name.size() &&
            arg[option.Name.size()] == '=') {
            return {&option, arg.substr(option.Name.size() + 1), 1};
        }
    }
    return {};
}

// Applies a found option to `line`; false when its value cannot be taken.
bool Apply(const FoundOption& found, CommandLine& line) {
    const std::string_view name = found.Option->Name;
    if (name == "--console") {
        line.Console = true;
        return true;
    }
    if (name == "--verify") {
        line.Verify = true;
        return true;
    }
    if (!found.Value) return false;
    if (name == "--max-rate") {
        const std::optional<uint64_t> rate = ParseRate(*found.Value);
        line.MaxRate = rate.value_or(0);
        return rate.has_value();
    }
    if (name == "--progress-fd") {
        line.ProgressFd = ParseUnsignedDecimal(*found.Value);
        return line.ProgressFd.has_value();
    }
    return false;
}
// Applies the update's options to `line` and returns the other words joined by blanks.
std::string SplitArguments(int argc, const char* const* argv, CommandLine& line) {
    std::string joined;
    bool first = true;
    for (int i = 1; i < argc;) {
        if (const FoundOption found = FindUpdateOption(argc, argv, i); found.Option) {
            Apply(found, line);
            i += found.Words;
            continue;
        }
        if (!first) joined += ' ';
        joined += Word(argc, argv, i++);
        first = false;
    }
    return joined;
}
}  // namespace

std::optional<uint64_t> ParseRate(std::string_view text) {
    unsigned shift = 0;
    if (!text.empty()) {
        switch (text.back()) {
            case 'k':
            case 'K':
                shift = 10;
                break;
            case 'm':
            case 'M':
                shift = 20;
                break;
            case 'g':
            case 'G':
                shift = 30;
                break;
            default:
                break;
        }
    }
    if (shift != 0) text.remove_suffix(1);
    const std::optional<uint64_t> number = ParseUnsignedDecimal(text);
    if (!number || *number == 0 || *number > (UINT64_MAX >> shift)) return std::nullopt;
    return *number << shift;
}

std::string ArgumentString(int argc, const char* const* argv, bool& console) {
    CommandLine line;
    std::string joined = SplitArguments(argc, argv, line);
    console = line.Console;
    return joined;
}

void ParseArgumentString(std::string_view arguments, CommandLine& out) {
    const std::size_t comma = arguments.find(',');
    if (comma == std::string_view::npos || comma == 0) {
        out.IgnoredArgument = std::string(arguments);
        return;
    }
    out.UpdateUrl = std::string(arguments.substr(0, comma));
    out.CallerWindow = static_cast<uint32_t>(ParseDecimal64(arguments.substr(comma + 1)));
}

const char kVersionText[] = TOVAL_VERSION;

namespace {
// What HANDLE names, on each system.
#ifdef _WIN32
constexpr const char* kCallerWindow = "window handle";
#else
constexpr const char* kCallerWindow = "X11 window id";
#endif
}  // namespace

std::string UsageText() {
    std::string text =
        R"(Usage: toval-updater [--console] [--verify] [--max-rate RATE] [--progress-fd N] [URL,HANDLE]

Brings the game client beside this program up to date from the catalogue at URL, then starts
the game lobby when files were updated.

  URL,HANDLE   the catalogue's address and the caller's )";
    text += kCallerWindow;
    text += R"( in decimal, which is
               sent the number of files to update (default: )";
    text += kDefaultUpdateUrl;
    text += R"(,0)
  --console    run in the terminal: status lines on standard output, messages on standard
               error (also chosen when no display can be opened)
  --verify     check every file's bytes against the catalogue's SHA-256, not only its length
               and time, and fetch again each one that differs
  --max-rate RATE
               download at most RATE bytes a second in all, so the connection stays usable
               (K, M, G: binary multiples, as in 500K or 2M)
  --progress-fd N
               write the run's progress to descriptor N (on Windows: an inherited handle),
               one JSON object a line, the last one its outcome
  -h, --help   show this text
  --version    show the version

Exit status: 0 the client is current or was updated, 1 the update failed or was stopped before
it ended, 2 bad command line, 128 + N ended by signal N.
)";
    return text;
}

OptionCheck CheckOptions(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = Word(argc, argv, i);
        if (const FoundOption found = FindUpdateOption(argc, argv, i); found.Option) {
            CommandLine line;
            if (!Apply(found, line)) return {CommandLineRequest::BadValue, std::string(arg)};
            i += found.Words - 1;
            continue;
        }
        if (arg.size() < 2 || arg[0] != '-') continue;
        if (arg[1] >= '0' && arg[1] <= '9') continue;
        if (arg == "--help" || arg == "-h") return {CommandLineRequest::Help, {}};
        if (arg == "--version") return {CommandLineRequest::Version, {}};
        return {CommandLineRequest::UnknownOption, std::string(arg)};
    }
    return {};
}

std::string IgnoredArgumentNote(const CommandLine& line) {
    if (line.IgnoredArgument.empty()) return {};
    return "toval-updater: '" + line.IgnoredArgument + "' is not URL,HANDLE; using " +
           line.UpdateUrl + "\n";
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    ParseArgumentString(SplitArguments(argc, argv, line), line);
    return line;
}

}  // namespace toval
