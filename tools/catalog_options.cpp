#include "tools/catalog_options.h"

#include <algorithm>
#include <string_view>

#include "catalog/mirror_origin.h"
#include "platform/text.h"

namespace toval::catalog_tool {

namespace {

// A whole decimal number without sign that fits 64 bits, in at most 20 digits.
std::optional<uint64_t> ParseCount(std::string_view text) {
    if (text.size() > 20) return std::nullopt;
    return ParseUnsignedDecimal(text);
}

// "./a//b/" -> "a/b"; empty, absolute or climbing paths are refused.
std::optional<std::string> NormaliseRelative(std::string_view path) {
    if (path.empty() || path.front() == '/') return std::nullopt;
    std::string result;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view segment = path.substr(start, end - start);
        if (segment == "..") return std::nullopt;
        if (!segment.empty() && segment != ".") {
            if (!result.empty()) result += '/';
            result += segment;
        }
        start = end + 1;
    }
    if (result.empty()) return std::nullopt;
    return result;
}

std::optional<std::string> RelativeArgument(std::string_view option, std::string_view value,
                                            Stop& stop) {
    std::optional<std::string> rel = NormaliseRelative(value);
    if (!rel) {
        stop = Usage(std::string(option) + ": '" + std::string(value) +
                     "' is not a path inside CLIENT_DIR");
    }
    return rel;
}

}  // namespace

Stop ParseOptions(const std::vector<std::string>& args, Options& options, bool& help,
                  bool& version) {
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
            return {};
        }
        if (arg == "--version") {
            version = true;
            return {};
        }
        // "--name value", "--name=value", "-o value" and "-ovalue" are all accepted.
        std::string name = arg;
        std::optional<std::string> value;
        if (arg.starts_with("--")) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            }
        } else if (arg.size() > 2) {
            name = arg.substr(0, 2);
            value = arg.substr(2);
        }
        static const std::vector<std::string> kKnown = {
            "-o",        "--product",  "--execute",   "--register",     "--install-dir",
            "--exclude", "--sign",     "--serial",    "--expires-days", "--keygen",
            "--mirror",  "--previous", "--patch-dir", "--channel"};
        if (std::find(kKnown.begin(), kKnown.end(), name) == kKnown.end()) {
            return Usage("unknown option '" + arg + "'");
        }
        if (!value) {
            if (i + 1 >= args.size()) return Usage(name + " needs a value");
            value = args[++i];
        }
        if (name == "-o") {
            options.Output = *value;
        } else if (name == "--product") {
            options.Product = *value;
        } else if (name == "--execute") {
            const auto eq = value->find('=');
            Stop stop;
            const auto rel = RelativeArgument(name, value->substr(0, eq), stop);
            if (!rel) return stop;
            options.Execute[*rel] = eq == std::string::npos ? "" : value->substr(eq + 1);
        } else if (name == "--register") {
            Stop stop;
            const auto rel = RelativeArgument(name, *value, stop);
            if (!rel) return stop;
            options.Register.push_back(*rel);
        } else if (name == "--install-dir") {
            const auto eq = value->rfind('=');
            if (eq == std::string::npos) return Usage(name + " wants REL=MACRO");
            Stop stop;
            const auto rel = RelativeArgument(name, value->substr(0, eq), stop);
            if (!rel) return stop;
            std::string macro = value->substr(eq + 1);
            bool known = false;
            for (const char* m : {"CURRENTDIR", "WINDOWSDIR", "SYSTEMDIR"}) {
                if (EqualsIgnoringAsciiCase(macro, m)) {
                    macro = m;
                    known = true;
                }
            }
            if (!known) {
                return Usage(name + ": '" + macro + "' is not CURRENTDIR, WINDOWSDIR or SYSTEMDIR");
            }
            options.InstallDir[*rel] = macro;
        } else if (name == "--exclude") {
            Stop stop;
            const auto rel = RelativeArgument(name, *value, stop);
            if (!rel) return stop;
            options.Exclude.push_back(*rel);
        } else if (name == "--previous") {
            options.Previous.push_back(*value);
        } else if (name == "--patch-dir") {
            options.PatchDir = *value;
        } else if (name == "--mirror") {
            if (!IsMirrorOrigin(*value))
                return Usage(name + ": '" + *value +
                             "' is not an origin (http://host[:port] or https://host[:port])");
            if (options.Mirrors.size() >= kMaxMirrors) return Usage(name + ": too many mirrors");
            options.Mirrors.push_back(*value);
        } else if (name == "--channel") {
            if (value->empty()) return Usage(name + " needs a value");
            options.Channel = *value;
        } else if (name == "--sign") {
            options.SignKey = *value;
        } else if (name == "--keygen") {
            options.KeygenBase = *value;
        } else if (name == "--serial" || name == "--expires-days") {
            const std::optional<uint64_t> n = ParseCount(*value);
            if (!n || (name == "--expires-days" && *n > 36500))
                return Usage(name + ": '" + *value + "' is not a number it can take");
            if (name == "--serial") {
                options.Serial = *n;
            } else {
                options.ExpiresDays = *n;
            }
        }
    }
    if (options.KeygenBase) {
        if (!positional.empty()) return Usage("--keygen takes no CLIENT_DIR or BASE_URL");
        return {};
    }
    if (options.SignKey && !options.Output) return Usage("--sign needs -o FILE");
    if (!options.Previous.empty() && !options.Output) return Usage("--previous needs -o FILE");
    if (options.PatchDir && options.Previous.empty())
        return Usage("--patch-dir goes with --previous");
    if (!options.SignKey && (options.Serial || options.ExpiresDays != 30 || options.Channel))
        return Usage("--serial, --expires-days and --channel go with --sign");
    if (positional.size() != 2) return Usage("expected CLIENT_DIR and BASE_URL");
    options.ClientDir = positional[0];
    options.BaseUrl = positional[1];
    if (!StartsWithIgnoringAsciiCase(options.BaseUrl, "http://") &&
        !StartsWithIgnoringAsciiCase(options.BaseUrl, "https://")) {
        return Usage("BASE_URL must be an http:// or https:// address");
    }
    while (options.BaseUrl.ends_with('/')) options.BaseUrl.pop_back();
    return {};
}

}  // namespace toval::catalog_tool
