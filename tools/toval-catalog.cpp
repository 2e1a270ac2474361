// toval-catalog: writes the update catalogue of a client directory, in the layout the updater
// reads, with versions, lengths and time stamps taken from the files themselves.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/CFileEntry.h"
#include "catalog/catalog_writer.h"
#include "catalog/install_path.h"
#include "catalog/xml_text.h"
#include "platform/file_time.h"
#include "platform/text.h"

namespace fs = std::filesystem;
using namespace toval;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    R"(Usage: toval-catalog [options] CLIENT_DIR BASE_URL

Writes the update catalogue of the client in CLIENT_DIR: one entry per regular file below it,
in byte order of the relative path, downloadable at BASE_URL/<relative path>.

Options:
  -o FILE                  write the catalogue to FILE (default: standard output); FILE is
                           left out of the catalogue when it lies inside CLIENT_DIR
  --product NAME           product name in the catalogue (default: Toval)
  --execute REL[=PARAMS]   run REL after installing it, with PARAMS
  --register REL           register REL after installing it
  --install-dir REL=MACRO  install REL (a file, or every file below a directory) under MACRO:
                           CURRENTDIR (default), WINDOWSDIR or SYSTEMDIR; the sub-directory is
                           then counted from REL's directory
  --exclude REL            leave out REL (a file, or everything below a directory); repeatable
  --help                   show this text
  --version                show the version

REL is a path relative to CLIENT_DIR with '/' separators. A symbolic link to a regular file is
catalogued as that file under the link's name; links to directories are not followed.
Exit status: 0 success, 2 bad command line, 1 any other failure.
)";

// Why a run stops: the exit status and the message for stderr.
struct Stop {
    int Status = kExitOk;
    std::string Message;
};

Stop Usage(std::string message) { return Stop{kExitUsage, std::move(message)}; }
Stop Failed(std::string message) { return Stop{kExitFailure, std::move(message)}; }

struct Options {
    std::optional<std::string> Output;
    std::string Product = "Toval";
    std::map<std::string, std::string> Execute;  // relative path -> parameters
    std::vector<std::string> Register;
    std::map<std::string, std::string> InstallDir;  // relative path -> macro
    std::vector<std::string> Exclude;
    std::string ClientDir;
    std::string BaseUrl;
};

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

// Fills `options`; a Stop with status 0 and no message means go on.
Stop ParseOptions(int argc, char** argv, Options& options, bool& help, bool& version) {
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
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
        static const std::vector<std::string> kKnown = {"-o",         "--product",     "--execute",
                                                        "--register", "--install-dir", "--exclude"};
        if (std::find(kKnown.begin(), kKnown.end(), name) == kKnown.end()) {
            return Usage("unknown option '" + arg + "'");
        }
        if (!value) {
            if (i + 1 >= argc) return Usage(name + " needs a value");
            value = argv[++i];
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
        }
    }
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

// `rel` is `key` itself or lies below the directory `key`.
bool IsAtOrBelow(std::string_view rel, std::string_view key) {
    return rel == key ||
           (rel.size() > key.size() && rel.starts_with(key) && rel[key.size()] == '/');
}

std::string PercentEncodePath(std::string_view rel) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url;
    for (char c : rel) {
        const auto u = static_cast<unsigned char>(c);
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                          c == '/';
        if (keep) {
            url += c;
        } else {
            url += '%';
            url += kHex[u >> 4];
            url += kHex[u & 15];
        }
    }
    return url;
}

// Relative paths of the regular files below `root`, in byte order.
Stop ListFiles(const fs::path& root, std::vector<std::string>& files) {
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return Failed(root.string() + ": not a directory");
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& path = it->path();
        const fs::file_status own = it->symlink_status(ec);
        if (ec) break;
        const fs::file_status target = fs::status(path, ec);
        const std::string rel = path.lexically_relative(root).generic_string();
        if (ec && fs::is_symlink(own)) {
            std::cerr << "toval-catalog: note: skipping '" << rel << "', a link to nothing\n";
            ec.clear();
            continue;
        }
        // A file that cannot be looked at must not vanish from the catalogue.
        if (ec) return Failed(path.string() + ": " + ec.message());
        if (fs::is_directory(target)) {
            if (fs::is_symlink(own)) {
                std::cerr << "toval-catalog: note: not following link '" << rel << "'\n";
            }
            continue;
        }
        if (!fs::is_regular_file(target)) {
            std::cerr << "toval-catalog: note: skipping '" << rel << "', not a regular file\n";
            continue;
        }
        files.push_back(rel);
    }
    if (ec) return Failed(root.string() + ": " + ec.message());
    std::sort(files.begin(), files.end());
    return {};
}

Stop DescribeFile(const fs::path& root, const std::string& rel, const Options& options,
                  std::unique_ptr<CFileEntry>& entry) {
    if (!IsXmlText(rel) || rel.find('\\') != std::string::npos) {
        return Failed("'" + rel +
                      "': the name is not valid UTF-8, holds control characters or a backslash; "
                      "rename it or leave it out with --exclude");
    }
    const std::string path = (root / rel).string();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || access(path.c_str(), R_OK) != 0) {
        return Failed(path + ": cannot be read");
    }
    entry = std::make_unique<CFileEntry>();
    const auto slash = rel.rfind('/');
    entry->FileName = slash == std::string::npos ? rel : rel.substr(slash + 1);
    entry->Length = static_cast<uint64_t>(info.st_size);
    entry->FileDate = FileTimeFromTimespec(info.st_mtim);
    // The version texts stay empty for a file without a version resource.
    entry->ReadVersion(path, entry->FixedFileInfo);

    // The deepest --install-dir that covers the file decides its macro and where its
    // sub-directory starts.
    std::string localBase;
    const std::string* best = nullptr;
    for (const auto& [key, macro] : options.InstallDir) {
        if (IsAtOrBelow(rel, key) && (!best || key.size() > best->size())) {
            best = &key;
            entry->InstallDir = macro;
        }
    }
    if (best) {
        localBase = *best == rel ? (slash == std::string::npos ? "" : rel.substr(0, slash)) : *best;
    }
    std::string dir = slash == std::string::npos ? "" : rel.substr(0, slash);
    if (!localBase.empty())
        dir = dir.size() > localBase.size() ? dir.substr(localBase.size() + 1) : "";
    std::replace(dir.begin(), dir.end(), '/', '\\');
    entry->LocalPath = dir;

    if (const auto it = options.Execute.find(rel); it != options.Execute.end()) {
        entry->Execute = true;
        entry->ExecutePar = it->second;
    }
    entry->Register =
        std::find(options.Register.begin(), options.Register.end(), rel) != options.Register.end();
    entry->URL = options.BaseUrl + "/" + PercentEncodePath(rel);

    // The updater drops entries whose paths look absolute or climbing ("c:x" reads as a drive);
    // better to say so here than to publish a file that never arrives.
    const BaseDirectories anywhere{"/p", "/w", "/s"};
    CFileEntry check;
    check.FileName = entry->FileName;
    check.LocalPath = entry->LocalPath;
    if (!BuildFullPath(check, anywhere)) {
        return Failed(
            "'" + rel +
            "': the updater would refuse this path; rename it or leave it out with --exclude");
    }
    return {};
}

// Every path an option names must match a catalogued file, so a typo cannot pass unnoticed.
Stop CheckOptionsMatch(const Options& options, const std::vector<std::string>& files) {
    auto matches = [&](const std::string& key, bool directoryToo) {
        return std::any_of(files.begin(), files.end(), [&](const std::string& rel) {
            return directoryToo ? IsAtOrBelow(rel, key) : rel == key;
        });
    };
    for (const auto& [rel, params] : options.Execute) {
        if (!matches(rel, false)) return Usage("--execute: no file '" + rel + "' to catalogue");
    }
    for (const auto& rel : options.Register) {
        if (!matches(rel, false)) return Usage("--register: no file '" + rel + "' to catalogue");
    }
    for (const auto& [rel, macro] : options.InstallDir) {
        if (!matches(rel, true)) {
            return Usage("--install-dir: nothing at or below '" + rel + "' to catalogue");
        }
    }
    return {};
}

Stop WriteOutput(const Options& options, const std::vector<std::unique_ptr<CFileEntry>>& entries) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const CatalogProduct product{options.Product, FormatCreateDate(local)};
    std::vector<const CFileEntry*> files;
    for (const auto& e : entries) files.push_back(e.get());
    std::string error;
    if (!options.Output) {
        std::ios::sync_with_stdio(false);
        if (!WriteCatalog(std::cout, product, files, error)) return Failed(error);
        return {};
    }
    // Written beside the target and renamed over it, so a failed run never leaves half a
    // catalogue where the server publishes it.
    const std::string target = *options.Output;
    std::string temp = target + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) return Failed(target + ": cannot create a file beside it");
    fchmod(fd, 0644);  // a published catalogue is meant to be read by the web server
    close(fd);
    bool ok = false;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        ok = out && WriteCatalog(out, product, files, error);
        out.close();
        ok = ok && out;
    }
    if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
        std::remove(temp.c_str());
        return Failed(target + ": " + (error.empty() ? "cannot be written" : error));
    }
    return {};
}

Stop Run(int argc, char** argv) {
    bool help = false;
    bool version = false;
    Options options;
    if (Stop stop = ParseOptions(argc, argv, options, help, version); stop.Status != kExitOk)
        return stop;
    if (help) {
        std::cout << kUsage;
        return {};
    }
    if (version) {
        std::cout << "toval-catalog " << TOVAL_VERSION << "\n";
        return {};
    }
    const fs::path root = options.ClientDir;
    std::vector<std::string> files;
    if (Stop stop = ListFiles(root, files); stop.Status != kExitOk) return stop;

    std::vector<std::string> excluded = options.Exclude;
    if (options.Output) {
        std::error_code ec;
        const fs::path out = fs::weakly_canonical(*options.Output, ec);
        const fs::path dir = fs::canonical(root, ec);
        if (!ec) {
            const fs::path inside = out.lexically_relative(dir);
            if (!inside.empty() && *inside.begin() != "..")
                excluded.push_back(inside.generic_string());
        }
    }
    std::erase_if(files, [&](const std::string& rel) {
        return std::any_of(excluded.begin(), excluded.end(),
                           [&](const std::string& x) { return IsAtOrBelow(rel, x); });
    });
    if (Stop stop = CheckOptionsMatch(options, files); stop.Status != kExitOk) return stop;

    std::vector<std::unique_ptr<CFileEntry>> entries(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (Stop stop = DescribeFile(root, files[i], options, entries[i]); stop.Status != kExitOk) {
            return stop;
        }
    }
    return WriteOutput(options, entries);
}

}  // namespace

int main(int argc, char** argv) {
    const Stop stop = Run(argc, argv);
    if (stop.Status != kExitOk) {
        std::cerr << "toval-catalog: " << stop.Message << "\n";
        if (stop.Status == kExitUsage) std::cerr << "Try 'toval-catalog --help'.\n";
    }
    return stop.Status;
}
