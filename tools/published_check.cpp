#include "tools/published_check.h"

#include <algorithm>
#include <vector>

#include "catalog/CUpdateCatalog.h"
#include "catalog/xml_startup.h"
#include "platform/crypto.h"
#include "platform/text.h"
#include "platform/utf8_path.h"

namespace toval::catalog_tool {

namespace {

// The relative path a URL below `base` names; nothing when it is not below it or its escapes
// are broken.
std::optional<std::string> RelativeOfUrl(std::string_view url, const std::string& base) {
    const std::string prefix = base + "/";
    if (!url.starts_with(prefix)) return std::nullopt;
    url.remove_prefix(prefix.size());
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string rel;
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] != '%') {
            rel += url[i];
            continue;
        }
        if (i + 2 >= url.size() || hex(url[i + 1]) < 0 || hex(url[i + 2]) < 0) return std::nullopt;
        rel += static_cast<char>(hex(url[i + 1]) * 16 + hex(url[i + 2]));
        i += 2;
    }
    if (rel.empty()) return std::nullopt;
    return rel;
}

}  // namespace

std::optional<std::string> HashOpenFile(const LocalFile& file) {
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

Stop CheckAgainstClient(std::string_view bytes, const Options& options,
                        const std::vector<std::string>& listed) {
    const std::string refused = "; nothing signed";
    if (!InitXmlParser()) return Failed("no code page 936 converter to read the catalogue back");
    // The directories only place entries; the files are found below CLIENT_DIR by their URLs.
    CUpdateCatalog catalogue(BaseDirectories{"/p", "/w", "/s"});
    if (!catalogue.LoadBytes(bytes)) return Failed("the catalogue cannot be read back" + refused);
    std::vector<std::unique_ptr<CFileEntry>> read;
    while (std::unique_ptr<CFileEntry> entry = catalogue.TakeFirst())
        read.push_back(std::move(entry));
    // An entry the updater drops is a file that never reaches a player.
    for (const std::string& url : listed) {
        if (std::none_of(read.begin(), read.end(), [&](const auto& e) { return e->URL == url; }))
            return Failed(url + ": not among the entries the updater reads" + refused);
    }
    const std::filesystem::path root = PathOfUtf8(options.ClientDir);
    for (const std::unique_ptr<CFileEntry>& entry : read) {
        const std::optional<std::string> rel = RelativeOfUrl(entry->URL, options.BaseUrl);
        if (!rel) return Failed(entry->URL + ": not a file below BASE_URL" + refused);
        // Without a hash, a signed catalogue vouches for nothing the file holds; the updater
        // refuses such a catalogue whole.
        if (entry->Sha256.size() != 64)
            return Failed("'" + *rel + "': listed without its Sha256" + refused);
        const std::string path = Utf8OfPath(root / PathOfUtf8(*rel));
        const LocalFile file(path);
        if (!file.IsOpen()) return Failed(path + ": listed but not in CLIENT_DIR" + refused);
        if (file.Size() != entry->Length) {
            return Failed(path + ": " + std::to_string(file.Size()) + " bytes, listed with " +
                          std::to_string(entry->Length) + refused);
        }
        const std::optional<std::string> hash = HashOpenFile(file);
        if (!hash) return Failed(path + ": cannot be read");
        if (!EqualsIgnoringAsciiCase(*hash, entry->Sha256))
            return Failed(path + ": its bytes are not the ones listed (Sha256)" + refused);
    }
    return {};
}

}  // namespace toval::catalog_tool
