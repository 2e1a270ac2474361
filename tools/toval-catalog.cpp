// toval-catalog: writes the update catalogue of a client directory, in the layout the updater
// reads, with versions, lengths and time stamps taken from the files themselves.

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/CFileEntry.h"
#include "catalog/CUpdateCatalog.h"
#include "catalog/catalog_writer.h"
#include "platform/crypto.h"
#include "platform/file_handle.h"
#include "platform/file_read.h"
#include "platform/mapped_file.h"
#include "platform/standard_streams.h"
#include "platform/text.h"
#include "platform/unique_file.h"
#include "platform/utf8_path.h"
#include "tools/catalog_gzip.h"
#include "tools/catalog_options.h"
#include "tools/catalog_signing.h"
#include "tools/client_scan.h"
#include "tools/patch_maker.h"
#include "tools/patch_prune.h"
#include "tools/published_check.h"
#include "tools/release_check.h"

namespace fs = std::filesystem;

namespace toval::catalog_tool {
namespace {

constexpr std::string_view kUsage =
    R"(Usage: toval-catalog [options] CLIENT_DIR BASE_URL
       toval-catalog --check URL [--key PUBFILE] [--full]

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
                           made and listed only when smaller than half of the file (needs -o)
  --patch-dir DIR          where the patches go (default: a folder 'patches' beside FILE); the
                           catalogue names them relative to itself, so publish both side by
                           side; patches already there are reused, named by content hash
  --prune-patches          remove the patches in the patch folder that neither this catalogue
                           nor any other *.xml catalogue beside it lists (needs -o)
  --mirror ORIGIN          another server holding the same files at the same paths,
                           http://host[:port] or https://host[:port]; repeatable, tried in
                           the order given when a file cannot be had from BASE_URL's server
  --sign KEY               sign the catalogue with the secret key file KEY: the signature,
                           in minisign's format, goes to FILE.minisig beside it (needs -o);
                           refused unless every listed file matches CLIENT_DIR by length and
                           Sha256. Without --sign, an earlier FILE.minisig is removed
  --channel NAME           the signed catalogue is for this channel of the product (default:
                           the product alone); its signature names product and channel, and
                           a client bound to one refuses a catalogue for any other
  --serial N               the signed catalogue's serial (default: the current Unix time);
                           it must grow from one published catalogue to the next
  --expires-days D         the signed catalogue expires D days from now (default 30; at
                           least 1, a warning under 7)
  --check URL              look at the release published at URL as players meet it: the
                           catalogue, its signature (with --key PUBFILE, the publisher's
                           public keys), every file on its server and every mirror (its exact
                           length; with --full, its SHA-256 too, downloading everything) and
                           every patch; prints a report, exit status 0 clean, 1 problems
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
        std::vector<std::string> urls;
        for (const CFileEntry* e : files) urls.push_back(e->URL);
        Stop stop = bytes ? CheckAgainstClient(*bytes, options, urls)
                          : Failed(temp + ": cannot be read back");
        if (stop.Status == kExitOk)
            stop = SignCatalogue(options, *bytes, Utf8OfPath(PathOfUtf8(target).filename()),
                                 signature);
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
    // Its compressed copy first, so that the two never stand for different catalogues.
    const std::optional<std::string> published = ReadSmallFile(temp, kCatalogueMaxBytes);
    Stop packed = published ? WriteGzipCopy(target + ".gz", *published)
                            : Failed(temp + ": cannot be read back");
    if (packed.Status != kExitOk) {
        RemoveFile(temp);
        return packed;
    }
    if (!RenameOver(temp, target)) {
        RemoveFile(temp);
        return Failed(target + ": cannot be written");
    }
    // An earlier catalogue's signature never fits this one: left on the server, it would have
    // every player with keys refuse the catalogue as wrongly signed.
    const std::string staleSignature = target + ".minisig";
    if (!options.SignKey && ExaminePath(staleSignature).Kind != PathKind::Missing) {
        if (!RemoveFile(staleSignature))
            return Failed(staleSignature + ": an earlier catalogue's signature; cannot be removed");
        std::cerr << "toval-catalog: removed " << staleSignature
                  << ", the signature of an earlier catalogue\n";
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
            const std::optional<Sha256Digest> digest = Sha256Of(before.Bytes());
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
                // Only a patch shorter than half of the file is listed, so only such is kept.
                const PatchMade made = MakePatch(before.Bytes(), current->Bytes(),
                                                 Utf8OfPath(patch), (entry.Length + 1) / 2, why);
                if (made == PatchMade::NotWorthIt) continue;
                if (made == PatchMade::Failed) return Failed(Utf8OfPath(patch) + ": " + why);
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
    if (options.Check) return CheckRelease({*options.Check, options.CheckKey, options.CheckFull});
    if (options.SignKey && options.ExpiresDays < kShortExpiryDays) {
        std::cerr << "toval-catalog: warning: the catalogue expires in " << options.ExpiresDays
                  << (options.ExpiresDays == 1 ? " day" : " days")
                  << "; players are refused it unless it is published again before then\n";
    }
    const fs::path root = PathOfUtf8(options.ClientDir);
    std::vector<std::string> files;
    if (Stop stop = ListFiles(root, files); stop.Status != kExitOk) return stop;

    std::vector<std::string> excluded = options.Exclude;
    // The catalogue and its patches are not files of the client, even when written inside it.
    std::vector<fs::path> written;
    if (options.Output) written.push_back(PathOfUtf8(*options.Output));
    if (!options.Previous.empty() || options.PrunePatches)
        written.push_back(PatchDirectory(options));
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
    // The other catalogues are read first: one that cannot be read stops the run before
    // anything is written.
    std::set<std::string> listed;
    if (options.PrunePatches) {
        if (Stop stop = AddPatchesListedBeside(*options.Output, listed); stop.Status != kExitOk)
            return stop;
    }
    if (Stop stop = AddPatches(root, files, options, entries); stop.Status != kExitOk) return stop;
    if (options.PrunePatches) {
        for (const auto& entry : entries)
            for (const FilePatch& patch : entry->Patches) listed.insert(PatchFileName(patch.URL));
    }
    if (Stop stop = WriteOutput(options, entries); stop.Status != kExitOk) return stop;
    if (options.PrunePatches) return PruneUnlisted(PatchDirectory(options), listed);
    return {};
}

}  // namespace

}  // namespace toval::catalog_tool

int main(int argc, char** argv) {
    using namespace toval::catalog_tool;
    toval::SetUpStandardStreams();
    const Stop stop = Run(toval::CommandArguments(argc, argv));
    if (stop.Status != kExitOk) {
        std::cerr << "toval-catalog: " << stop.Message << "\n";
        if (stop.Status == kExitUsage) std::cerr << "Try 'toval-catalog --help'.\n";
    }
    return stop.Status;
}
