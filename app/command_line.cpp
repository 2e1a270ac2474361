#include "app/command_line.h"

#include <algorithm>
#include <array>
#include <optional>

namespace toval {

namespace {

// The zero of every run of ten decimal digits in Unicode (general category Nd).
constexpr std::array<char32_t, 68> kDigitZeros = {
    0x30,    0x660,   0x6F0,   0x7C0,   0x966,   0x9E6,   0xA66,   0xAE6,   0xB66,   0xBE6,
    0xC66,   0xCE6,   0xD66,   0xDE6,   0xE50,   0xED0,   0xF20,   0x1040,  0x1090,  0x17E0,
    0x1810,  0x1946,  0x19D0,  0x1A80,  0x1A90,  0x1B50,  0x1BB0,  0x1C40,  0x1C50,  0xA620,
    0xA8D0,  0xA900,  0xA9D0,  0xA9F0,  0xAA50,  0xABF0,  0xFF10,  0x104A0, 0x10D30, 0x11066,
    0x110F0, 0x11136, 0x111D0, 0x112F0, 0x11450, 0x114D0, 0x11650, 0x116C0, 0x11730, 0x118E0,
    0x11950, 0x11C50, 0x11D50, 0x11DA0, 0x11F50, 0x16A60, 0x16AC0, 0x16B50, 0x1D7CE, 0x1D7D8,
    0x1D7E2, 0x1D7EC, 0x1D7F6, 0x1E140, 0x1E2F0, 0x1E4F0, 0x1E950, 0x1FBF0,
};

std::optional<int> DigitValue(char32_t c) {
    // The last zero not above c; c is a digit when it lies within ten of it.
    auto it = std::upper_bound(kDigitZeros.begin(), kDigitZeros.end(), c);
    if (it == kDigitZeros.begin()) return std::nullopt;
    const char32_t zero = *--it;
    if (c - zero < 10) return static_cast<int>(c - zero);
    return std::nullopt;
}

// Decodes one UTF-8 sequence at `pos`; nullopt (and no advance) for a malformed one.
std::optional<char32_t> DecodeUtf8(std::string_view s, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(pos);
    std::size_t length;
    char32_t value;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    } else {
        return std::nullopt;
    }
    if (pos + length > s.size()) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return std::nullopt;
        value = (value << 6) | (byte(pos + i) & 0x3F);
    }
    // Overlong forms and surrogates are not characters; they end the number like any other.
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return std::nullopt;
    pos += length;
    return value;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int64_t ParseDecimal64(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    uint64_t value = 0;  // unsigned, so overflow wraps as defined
    while (pos < text.size()) {
        std::size_t next = pos;
        const std::optional<char32_t> c = DecodeUtf8(text, next);
        const std::optional<int> digit = c ? DigitValue(*c) : std::nullopt;
        if (!digit) break;
        value = value * 10 + static_cast<uint64_t>(*digit);
        pos = next;
    }
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

std::string UsageText() {
    std::string text = R"(Usage: toval-updater [--console] [URL,HANDLE]

Brings the game client beside this program up to date from the catalogue at URL, then starts
the game lobby when files were updated.

  URL,HANDLE   the catalogue's address and the caller's X11 window id in decimal, which is
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
