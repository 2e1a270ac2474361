// toval-catalog: writes the update catalogue of a client directory, in the layout the updater
// reads, with versions, lengths and time stamps taken from the files themselves.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/CFileEntry.h"
#include "catalog/CUpdateCatalog.h"
#include "catalog/catalog_writer.h"
#include "catalog/catalogue_trust.h"
#include "catalog/file_probe.h"
#include "catalog/install_path.h"
#include "catalog/minisign.h"
#include "catalog/mirror_origin.h"
#include "catalog/xml_text.h"
#include "platform/crypto.h"
#include "platform/file_handle.h"
#include "platform/file_read.h"
#include "platform/mapped_file.h"
#include "platform/reserved_names.h"
#include "platform/standard_streams.h"
#include "platform/text.h"
#include "platform/unique_file.h"
#include "platform/utf8_path.h"
#include "tools/patch_maker.h"

namespace fs = std::filesystem;
using namespace toval;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// A key file holds one key; anything much larger is not one.
constexpr uint64_t kKeyFileMaxBytes = 64 << 10;

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
  --previous DIR           an earlier version of the client (repeatable, oldest first): each
                           file that changed since gets a patch from that version's file,
                           listed when it is smaller than half of the file (needs -o)
  --patch-dir DIR          where the patches go (default: a folder 'patches' beside FILE); the
                           catalogue names them relative to itself, so publish both side by
                           side; patches already there are reused, named by content hash
  --mirror ORIGIN          another server holding the same files at the same paths,
                           http://host[:port] or https://host[:port]; repeatable, tried in
                           the order given when a file cannot be had from BASE_URL's server
  --sign KEY               sign the catalogue with the secret key file KEY: the signature,
                           in minisign's format, goes to FILE.minisig beside it (needs -o)
  --channel NAME           the signed catalogue is for this channel of the product (default:
                           the product alone); its signature names product and channel, and
                           a client bound to one refuses a catalogue for any other
  --serial N               the signed catalogue's serial (default: the current Unix time);
                           it must grow from one published catalogue to the next
  --expires-days D         the signed catalogue expires D days from now (default 30)
  --keygen BASE            write a new key pair, BASE.pub and BASE.key (mode 0600), in
                           minisign's formats, and do nothing else
  --help                   show this text
  --version                show the version

Every file's SHA-256 is written to the catalogue, so that the updater installs nothing but the
bytes published. REL is a path relative to CLIENT_DIR with '/' separators. A symbolic link to a regular file is
catalogued as that file under the link's name; links to directories are not followed. A name
ending in .update, .update-resume or .toval-patch (any letter case) is the updater's own; such a
file stops the run until it is renamed or left out with --exclude. The updater's state
directory, .toval-updater at the top of CLIENT_DIR, is never catalogued.
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
    std::optional<std::string> Channel;
    std::map<std::string, std::string> Execute;  // relative path -> parameters
    std::vector<std::string> Register;
    std::map<std::string, std::string> InstallDir;  // relative path -> macro
    std::vector<std::string> Exclude;
    std::vector<std::string> Mirrors;
    std::vector<std::string> Previous;
    std::optional<std::string> PatchDir;
    std::string ClientDir;
    std::string BaseUrl;
    std::optional<std::string> SignKey;
    std::optional<uint64_t> Serial;
    uint64_t ExpiresDays = 30;
    std::optional<std::string> KeygenBase;
};

// A whole decimal number without sign that fits 64 bits.
std::optional<uint64_t> ParseCount(std::string_view text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
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

// Fills `options`; a Stop with status 0 and no message means go on.
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
    if (!fs::is_directory(root, ec)) return Failed(Utf8OfPath(root) + ": not a directory");
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& path = it->path();
        // The updater's own records of this client, never a file to publish.
        if (it.depth() == 0 &&
            EqualsIgnoringAsciiCase(Utf8OfPath(path.filename()), ".toval-updater")) {
            it.disable_recursion_pending();
            continue;
        }
        const fs::file_status own = it->symlink_status(ec);
        if (ec) break;
        const fs::file_status target = fs::status(path, ec);
        const std::string rel = GenericUtf8OfPath(path.lexically_relative(root));
        if (ec && fs::is_symlink(own)) {
            std::cerr << "toval-catalog: note: skipping '" << rel << "', a link to nothing\n";
            ec.clear();
            continue;
        }
        // A file that cannot be looked at must not vanish from the catalogue.
        if (ec) return Failed(Utf8OfPath(path) + ": " + ec.message());
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
    if (ec) return Failed(Utf8OfPath(root) + ": " + ec.message());
    std::sort(files.begin(), files.end());
    return {};
}

// The SHA-256 of the open file in hexadecimal; nothing when it cannot be read to its end.
std::optional<std::string> HashFile(const LocalFile& file) {
    Sha256 hash;
    std::vector<char> buffer(1 << 20);
    uint64_t offset = 0;
    while (offset < file.Size()) {
        const int64_t n = file.ReadAt(buffer.data(), buffer.size(), offset);
        if (n <= 0) return std::nullopt;
        hash.Update(buffer.data(), static_cast<size_t>(n));
        offset += static_cast<uint64_t>(n);
    }
    const std::optional<Sha256Digest> digest = hash.Final();
    if (!digest) return std::nullopt;
    return ToHex(digest->data(), digest->size());
}

// Writes `text` to a new file at `path` with `mode`; an existing file is never overwritten.
bool WriteNewFile(const std::string& path, std::string_view text, uint32_t mode) {
    FileHandle file = FileHandle::Open(path, OpenFor::CreateNew, mode);
    if (!file.IsOpen()) return false;
    // Set through the handle as well, whatever the umask took away.
    bool ok = file.SetMode(mode) && file.WriteAll(text.data(), text.size());
    ok = file.Close() && ok;
    if (!ok) RemoveFile(path);
    return ok;
}

Stop Keygen(const std::string& base) {
    const std::string pubPath = base + ".pub";
    const std::string keyPath = base + ".key";
    for (const std::string& path : {pubPath, keyPath}) {
        if (ExaminePath(path).Kind != PathKind::Missing)
            return Failed(path + ": exists; remove it first");
    }
    const std::optional<minisign::SecretKey> key = minisign::GenerateSecretKey();
    if (!key) return Failed("no key could be made");
    const std::string id = minisign::KeyIdHex(key->Id);
    const auto secret = minisign::WriteSecretKey(*key, "toval-catalog secret key " + id);
    const auto pub = minisign::WritePublicKey({key->Id, key->Public}, "minisign public key " + id);
    if (!secret || !pub) return Failed("no key could be made");
    // The secret key is readable by its owner alone from its first byte on.
    if (!WriteNewFile(keyPath, *secret, 0600)) return Failed(keyPath + ": cannot be written");
    if (!WriteNewFile(pubPath, *pub, 0644)) {
        RemoveFile(keyPath);
        return Failed(pubPath + ": cannot be written");
    }
    std::cout << "key " << id << ": public " << pubPath << ", secret " << keyPath << "\n";
    return {};
}

// The signature file for the catalogue `bytes` named `name`, by the secret key at `keyPath`.
Stop SignCatalogue(const Options& options, std::string_view bytes, const std::string& name,
                   std::string& signature) {
    const std::optional<std::string> keyText = ReadSmallFile(*options.SignKey, kKeyFileMaxBytes);
    if (!keyText) return Failed(*options.SignKey + ": cannot be read");
    const std::optional<minisign::SecretKey> key = minisign::ParseSecretKey(*keyText);
    if (!key) {
        return Failed(*options.SignKey +
                      ": not an unencrypted minisign secret key (make one with --keygen or "
                      "minisign -G -W)");
    }
    const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
    const uint64_t serial = options.Serial.value_or(now);
    const uint64_t expires = now + options.ExpiresDays * 86400;
    const std::string trusted =
        "timestamp:" + std::to_string(now) + "\tfile:" + name +
        "\tserial:" + std::to_string(serial) + "\texpires:" + std::to_string(expires) +
        "\tfor:" + CatalogueTarget(options.Product, options.Channel.value_or(""));
    const std::optional<std::string> text =
        minisign::SignFile(*key, bytes, trusted, "signature from toval-catalog secret key");
    if (!text) return Failed("the catalogue could not be signed");
    signature = *text;
    return {};
}

Stop DescribeFile(const fs::path& root, const std::string& rel, const Options& options,
                  std::unique_ptr<CFileEntry>& entry) {
    if (!IsXmlText(rel) || rel.find('\\') != std::string::npos) {
        return Failed("'" + rel +
                      "': the name is not valid UTF-8, holds control characters or a backslash; "
                      "rename it or leave it out with --exclude");
    }
    // The updater drops such an entry: it would share its path with a download of another file.
    if (IsUpdaterTemporaryName(rel)) {
        std::string suffixes;
        for (const std::string_view suffix : kReservedSuffixes)
            suffixes += std::string(suffixes.empty() ? "" : ", ") + std::string(suffix);
        return Failed("'" + rel + "': the name ends like the updater's temporary files (" +
                      suffixes + "); rename it or leave it out with --exclude");
    }
    const std::string path = Utf8OfPath(root / PathOfUtf8(rel));
    // One open file for its length, time and hash: they describe the same content.
    const LocalFile file(path);
    if (!file.IsOpen()) return Failed(path + ": cannot be read");
    entry = std::make_unique<CFileEntry>();
    const auto slash = rel.rfind('/');
    entry->FileName = slash == std::string::npos ? rel : rel.substr(slash + 1);
    entry->Length = file.Size();
    entry->FileDate = file.LastWrite();
    // The version texts stay empty for a file without a version resource.
    entry->ReadVersion(path, entry->FixedFileInfo);
    const std::optional<std::string> hash = HashFile(file);
    if (!hash) return Failed(path + ": cannot be read");
    entry->Sha256 = *hash;

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

// A stream buffer over an open file: the catalogue goes into the very file made for it.
class FileOutput : public std::streambuf {
  public:
    explicit FileOutput(FileHandle& file) : File(file) { setp(Buffer, Buffer + sizeof Buffer); }

  protected:
    int_type overflow(int_type c) override {
        if (!Drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return Drain() ? 0 : -1; }

  private:
    bool Drain() {
        const auto size = static_cast<std::size_t>(pptr() - pbase());
        Failed = Failed || !File.WriteAll(Buffer, size);
        setp(Buffer, Buffer + sizeof Buffer);
        return !Failed;
    }

    FileHandle& File;
    bool Failed = false;
    char Buffer[64 << 10];
};

Stop WriteOutput(const Options& options, const std::vector<std::unique_ptr<CFileEntry>>& entries) {
    // The tool runs on one thread: localtime's shared result is safe here, and it is the one
    // call both systems have.
    const std::time_t now = std::time(nullptr);
    const std::tm local = *std::localtime(&now);
    const CatalogProduct product{options.Product, FormatCreateDate(local), options.Mirrors};
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
    FileHandle file;
    const std::optional<std::string> created = CreateFileBeside(target, file, 0644);
    if (!created) return Failed(target + ": cannot create a file beside it");
    const std::string& temp = *created;
    // A published catalogue is meant to be read by the web server, whatever the umask says.
    bool ok = file.SetMode(0644);
    {
        FileOutput buffer(file);
        std::ostream out(&buffer);
        ok = ok && WriteCatalog(out, product, files, error);
    }
    ok = file.Close() && ok;
    if (!ok) {
        RemoveFile(temp);
        return Failed(target + ": " + (error.empty() ? "cannot be written" : error));
    }
    if (options.SignKey) {
        // Signed from the very bytes that are published.
        const std::optional<std::string> bytes = ReadSmallFile(temp, kCatalogueMaxBytes);
        std::string signature;
        Stop stop = bytes ? SignCatalogue(options, *bytes,
                                          Utf8OfPath(PathOfUtf8(target).filename()), signature)
                          : Failed(temp + ": cannot be read back");
        const std::string sigPath = target + ".minisig";
        const std::string sigTemp = sigPath + ".new";
        RemoveFile(sigTemp);
        if (stop.Status == kExitOk &&
            (!WriteNewFile(sigTemp, signature, 0644) || !RenameOver(sigTemp, sigPath))) {
            RemoveFile(sigTemp);
            stop = Failed(sigPath + ": cannot be written");
        }
        if (stop.Status != kExitOk) {
            RemoveFile(temp);
            return stop;
        }
    }
    if (!RenameOver(temp, target)) {
        RemoveFile(temp);
        return Failed(target + ": cannot be written");
    }
    return {};
}

fs::path PatchDirectory(const Options& options) {
    if (options.PatchDir) return PathOfUtf8(*options.PatchDir);
    return PathOfUtf8(*options.Output).parent_path() / "patches";
}

// For each file that changed since an earlier version, a patch from that version's file; listed
// only when it saves more than half of the file.
Stop AddPatches(const fs::path& root, const std::vector<std::string>& files, const Options& options,
                std::vector<std::unique_ptr<CFileEntry>>& entries) {
    if (options.Previous.empty()) return {};
    const fs::path patchDir = PatchDirectory(options);
    std::error_code ec;
    fs::create_directories(patchDir, ec);
    if (ec) return Failed(Utf8OfPath(patchDir) + ": cannot be created");
    // The catalogue names its patches relative to itself.
    const fs::path catalogueDir =
        fs::weakly_canonical(fs::absolute(PathOfUtf8(*options.Output)).parent_path());
    const std::string prefix =
        PercentEncodePath(GenericUtf8OfPath(
            fs::weakly_canonical(fs::absolute(patchDir)).lexically_relative(catalogueDir))) +
        "/";
    for (std::size_t i = 0; i < files.size(); ++i) {
        CFileEntry& entry = *entries[i];
        std::optional<MappedFile> current;
        std::vector<std::string> sources;  // hashes already patched from
        for (const std::string& previous : options.Previous) {
            const fs::path oldPath = PathOfUtf8(previous) / PathOfUtf8(files[i]);
            const std::string old = Utf8OfPath(oldPath);
            if (!fs::is_regular_file(oldPath, ec)) continue;
            // Mapped once: hashed, and read again only when a patch is made from it.
            const MappedFile before(old);
            if (!before.Ok()) return Failed(old + ": cannot be read");
            Sha256 hash;
            hash.Update(before.Bytes());
            const std::optional<Sha256Digest> digest = hash.Final();
            if (!digest) return Failed(old + ": cannot be read");
            const std::optional<std::string> from = ToHex(digest->data(), digest->size());
            if (*from == entry.Sha256 ||
                std::find(sources.begin(), sources.end(), *from) != sources.end())
                continue;
            sources.push_back(*from);
            // Named by what it joins, so an unchanged pair is never made again.
            const std::string pair = *from + entry.Sha256;
            const std::string name = ToHex(Blake2b256(pair).data(), 32) + ".zst";
            const fs::path patch = patchDir / name;
            if (!fs::is_regular_file(patch, ec)) {
                if (!current) current.emplace(Utf8OfPath(root / PathOfUtf8(files[i])));
                std::string why;
                if (!current->Ok() || !before.Ok())
                    return Failed(files[i] + ": cannot be read for its patch");
                if (!MakePatch(before.Bytes(), current->Bytes(), Utf8OfPath(patch), why)) {
                    if (why == "too large to patch") continue;
                    return Failed(Utf8OfPath(patch) + ": " + why);
                }
            }
            const uint64_t length = fs::file_size(patch, ec);
            if (ec) return Failed(Utf8OfPath(patch) + ": cannot be read");
            if (length * 2 < entry.Length) entry.Patches.push_back({*from, prefix + name, length});
        }
    }
    return {};
}

Stop Run(const std::vector<std::string>& args) {
    bool help = false;
    bool version = false;
    Options options;
    if (Stop stop = ParseOptions(args, options, help, version); stop.Status != kExitOk) return stop;
    if (help) {
        std::cout << kUsage;
        return {};
    }
    if (version) {
        std::cout << "toval-catalog " << TOVAL_VERSION << "\n";
        return {};
    }
    if (options.KeygenBase) return Keygen(*options.KeygenBase);
    const fs::path root = PathOfUtf8(options.ClientDir);
    std::vector<std::string> files;
    if (Stop stop = ListFiles(root, files); stop.Status != kExitOk) return stop;

    std::vector<std::string> excluded = options.Exclude;
    // The catalogue and its patches are not files of the client, even when written inside it.
    std::vector<fs::path> written;
    if (options.Output) written.push_back(PathOfUtf8(*options.Output));
    if (!options.Previous.empty()) written.push_back(PatchDirectory(options));
    for (const fs::path& path : written) {
        std::error_code ec;
        const fs::path out = fs::weakly_canonical(path, ec);
        const fs::path dir = fs::canonical(root, ec);
        if (!ec) {
            const fs::path inside = out.lexically_relative(dir);
            if (!inside.empty() && *inside.begin() != "..")
                excluded.push_back(GenericUtf8OfPath(inside));
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
    if (Stop stop = AddPatches(root, files, options, entries); stop.Status != kExitOk) return stop;
    return WriteOutput(options, entries);
}

}  // namespace

int main(int argc, char** argv) {
    SetUpStandardStreams();
    const Stop stop = Run(CommandArguments(argc, argv));
    if (stop.Status != kExitOk) {
        std::cerr << "toval-catalog: " << stop.Message << "\n";
        if (stop.Status == kExitUsage) std::cerr << "Try 'toval-catalog --help'.\n";
    }
    return stop.Status;
}
