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

std::string ArgumentString(int argc, const char* const* argv, bool& console) {
    console = false;
    std::string joined;
    bool first = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i] ? argv[i] : "";
        if (arg == "--console") {
            console = true;
            continue;
        }
        if (!first) joined += ' ';
        joined += arg;
        first = false;
    }
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
    std::string text = R"(Usage: toval-updater [--console] [URL,HANDLE]

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
  -h, --help   show this text
  --version    show the version

Exit status in the terminal: 0 the client is current or was updated, 1 the update failed,
2 bad command line.
)";
    return text;
}

OptionCheck CheckOptions(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i] ? argv[i] : "";
        if (arg.size() < 2 || arg[0] != '-' || arg == "--console") continue;
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
    ParseArgumentString(ArgumentString(argc, argv, line.Console), line);
    return line;
}

}  // namespace toval
