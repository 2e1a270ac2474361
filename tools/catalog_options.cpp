#include "tools/catalog_options.h"

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

// Each option with a value: what it does to the options, or why it cannot.
using OptionHandler = Stop (*)(const std::string& name, const std::string& value, Options& o);

Stop TakeRelative(const std::string& name, const std::string& value,
                  std::optional<std::string>& rel) {
    Stop stop;
    rel = RelativeArgument(name, value, stop);
    return stop;
}

Stop SetExecute(const std::string& name, const std::string& value, Options& o) {
    const auto eq = value.find('=');
    std::optional<std::string> rel;
    if (Stop stop = TakeRelative(name, value.substr(0, eq), rel); !rel) return stop;
    o.Execute[*rel] = eq == std::string::npos ? "" : value.substr(eq + 1);
    return {};
}

Stop AddRegister(const std::string& name, const std::string& value, Options& o) {
    std::optional<std::string> rel;
    if (Stop stop = TakeRelative(name, value, rel); !rel) return stop;
    o.Register.push_back(*rel);
    return {};
}

Stop SetInstallDir(const std::string& name, const std::string& value, Options& o) {
    const auto eq = value.rfind('=');
    if (eq == std::string::npos) return Usage(name + " wants REL=MACRO");
    std::optional<std::string> rel;
    if (Stop stop = TakeRelative(name, value.substr(0, eq), rel); !rel) return stop;
    const std::string macro = value.substr(eq + 1);
    for (const char* known : {"CURRENTDIR", "WINDOWSDIR", "SYSTEMDIR"}) {
        if (EqualsIgnoringAsciiCase(macro, known)) {
            o.InstallDir[*rel] = known;
            return {};
        }
    }
    return Usage(name + ": '" + macro + "' is not CURRENTDIR, WINDOWSDIR or SYSTEMDIR");
}

Stop AddExclude(const std::string& name, const std::string& value, Options& o) {
    std::optional<std::string> rel;
    if (Stop stop = TakeRelative(name, value, rel); !rel) return stop;
    o.Exclude.push_back(*rel);
    return {};
}

Stop AddMirror(const std::string& name, const std::string& value, Options& o) {
    if (!IsMirrorOrigin(value))
        return Usage(name + ": '" + value +
                     "' is not an origin (http://host[:port] or https://host[:port])");
    if (o.Mirrors.size() >= kMaxMirrors) return Usage(name + ": too many mirrors");
    o.Mirrors.push_back(value);
    return {};
}

Stop SetChannel(const std::string& name, const std::string& value, Options& o) {
    if (value.empty()) return Usage(name + " needs a value");
    o.Channel = value;
    return {};
}

Stop SetCount(const std::string& name, const std::string& value, Options& o) {
    const std::optional<uint64_t> n = ParseCount(value);
    // A catalogue expiring today would be refused by every player before it reached them.
    if (!n || (name == "--expires-days" && (*n < 1 || *n > 36500)))
        return Usage(name + ": '" + value + "' is not a number it can take" +
                     (name == "--expires-days" ? " (1 to 36500)" : ""));
    if (name == "--serial") {
        o.Serial = *n;
    } else {
        o.ExpiresDays = *n;
    }
    return {};
}

struct OptionRule {
    const char* Name;
    OptionHandler Apply;
};

const OptionRule kOptionRules[] = {
    {"-o",
     [](const std::string&, const std::string& v, Options& o) { return o.Output = v, Stop{}; }},
    {"--product",
     [](const std::string&, const std::string& v, Options& o) { return o.Product = v, Stop{}; }},
    {"--execute", SetExecute},
    {"--register", AddRegister},
    {"--install-dir", SetInstallDir},
    {"--exclude", AddExclude},
    {"--previous", [](const std::string&, const std::string& v,
                      Options& o) { return o.Previous.push_back(v), Stop{}; }},
    {"--patch-dir",
     [](const std::string&, const std::string& v, Options& o) { return o.PatchDir = v, Stop{}; }},
    {"--mirror", AddMirror},
    {"--channel", SetChannel},
    {"--sign",
     [](const std::string&, const std::string& v, Options& o) { return o.SignKey = v, Stop{}; }},
    {"--keygen",
     [](const std::string&, const std::string& v, Options& o) { return o.KeygenBase = v, Stop{}; }},
    {"--check",
     [](const std::string&, const std::string& v, Options& o) { return o.Check = v, Stop{}; }},
    {"--key",
     [](const std::string&, const std::string& v, Options& o) { return o.CheckKey = v, Stop{}; }},
    {"--serial", SetCount},
    {"--expires-days", SetCount},
};

const OptionRule* FindRule(const std::string& name) {
    for (const OptionRule& rule : kOptionRules)
        if (name == rule.Name) return &rule;
    return nullptr;
}

// The options that only make sense together, and the two positional arguments.
Stop CheckCombination(Options& options, const std::vector<std::string>& positional) {
    if (options.Check) {
        if (!positional.empty() || options.Output || options.SignKey || options.KeygenBase)
            return Usage("--check takes a catalogue's URL and nothing to write");
        if (!StartsWithIgnoringAsciiCase(*options.Check, "http://") &&
            !StartsWithIgnoringAsciiCase(*options.Check, "https://"))
            return Usage("--check needs an http:// or https:// URL");
        return {};
    }
    if (options.CheckKey || options.CheckFull) return Usage("--key and --full go with --check");
    if (options.KeygenBase) {
        if (!positional.empty()) return Usage("--keygen takes no CLIENT_DIR or BASE_URL");
        return {};
    }
    if (options.SignKey && !options.Output) return Usage("--sign needs -o FILE");
    if (!options.Previous.empty() && !options.Output) return Usage("--previous needs -o FILE");
    if (options.PrunePatches && !options.Output) return Usage("--prune-patches needs -o FILE");
    if (options.PatchDir && options.Previous.empty() && !options.PrunePatches)
        return Usage("--patch-dir goes with --previous or --prune-patches");
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

}  // namespace

Stop ParseOptions(const std::vector<std::string>& args, Options& options, bool& help,
                  bool& version) {
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
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
        if (arg == "--prune-patches") {
            options.PrunePatches = true;
            continue;
        }
        if (arg == "--full") {
            options.CheckFull = true;
            continue;
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
        const OptionRule* rule = FindRule(name);
        if (!rule) return Usage("unknown option '" + arg + "'");
        if (!value) {
            if (i + 1 >= args.size()) return Usage(name + " needs a value");
            value = args[++i];
        }
        if (Stop stop = rule->Apply(name, *value, options); stop.Status != kExitOk) return stop;
    }
    return CheckCombination(options, positional);
}

}  // namespace toval::catalog_tool
