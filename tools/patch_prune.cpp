#include "tools/patch_prune.h"

#include <cctype>
#include <iostream>
#include <vector>

#include "catalog/CUpdateCatalog.h"
#include "catalog/xml_startup.h"
#include "platform/file_handle.h"
#include "platform/text.h"
#include "platform/utf8_path.h"

namespace fs = std::filesystem;

namespace toval::catalog_tool {

namespace {

// 64 hexadecimal digits and ".zst": only what this tool made is ever removed, never another
// file the publisher keeps there.
bool IsPatchName(std::string_view name) {
    if (name.size() != 68 || !name.ends_with(".zst")) return false;
    for (std::size_t i = 0; i < 64; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
    return true;
}

}  // namespace

std::string PatchFileName(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    const auto slash = url.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? url : url.substr(slash + 1));
}

Stop AddPatchesListedBeside(const std::string& output, std::set<std::string>& names) {
    const fs::path target = PathOfUtf8(output);
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    if (!InitXmlParser()) return Failed("no code page 936 converter to read the catalogues");
    std::error_code ec;
    std::vector<fs::path> catalogues;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        if (path.filename() == target.filename() ||
            !EqualsIgnoringAsciiCase(Utf8OfPath(path.extension()), ".xml") ||
            !it->is_regular_file(ec))
            continue;
        catalogues.push_back(path);
    }
    if (ec) return Failed(Utf8OfPath(dir) + ": " + ec.message());
    for (const fs::path& path : catalogues) {
        CUpdateCatalog catalogue(BaseDirectories{"/p", "/w", "/s"});
        // Its patches cannot be told, so none can be pruned safely.
        if (!catalogue.Load(Utf8OfPath(path))) {
            return Failed(Utf8OfPath(path) +
                          ": not a catalogue the updater reads, so --prune-patches cannot tell "
                          "which patches it lists; move it away");
        }
        while (const std::unique_ptr<CFileEntry> entry = catalogue.TakeFirst())
            for (const FilePatch& patch : entry->Patches) names.insert(PatchFileName(patch.URL));
    }
    return {};
}

Stop PruneUnlisted(const fs::path& dir, const std::set<std::string>& keep) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return {};
    std::vector<fs::path> unlisted;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = Utf8OfPath(it->path().filename());
        if (IsPatchName(name) && !keep.contains(name) && it->is_regular_file(ec))
            unlisted.push_back(it->path());
    }
    if (ec) return Failed(Utf8OfPath(dir) + ": " + ec.message());
    for (const fs::path& path : unlisted) {
        if (!RemoveFile(Utf8OfPath(path))) return Failed(Utf8OfPath(path) + ": cannot be removed");
        std::cerr << "toval-catalog: removed unlisted patch " << Utf8OfPath(path) << "\n";
    }
    return {};
}

}  // namespace toval::catalog_tool
