#include "tools/client_scan.h"

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <optional>

#include "catalog/entry_probe.h"
#include "catalog/file_probe.h"
#include "catalog/install_path.h"
#include "catalog/xml_text.h"
#include "platform/crypto.h"
#include "platform/reserved_names.h"
#include "platform/text.h"
#include "platform/utf8_path.h"
#include "tools/published_check.h"

namespace fs = std::filesystem;

namespace toval::catalog_tool {

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

Stop ListFiles(const fs::path& root, std::vector<std::string>& files) {
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return Failed(Utf8OfPath(root) + ": not a directory");
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& path = it->path();
        // The updater's own records of this client, never a file to publish, under any name
        // Windows reads as theirs (every updater drops such entries).
        if (it.depth() == 0 &&
            EqualsIgnoringAsciiCase(AsWindowsReadsIt(Utf8OfPath(path.filename())),
                                    ".toval-updater")) {
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
    ReadVersion(*entry, path, entry->FixedFileInfo);
    const std::optional<std::string> hash = HashOpenFile(file);
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
#ifndef _WIN32
    // Any execute bit makes the file a program; the updater gives the player's copy execute
    // permission wherever it may be read, never the publisher's whole mode. Windows reports
    // execute permission from the name alone, and a Windows updater has no use for it.
    std::error_code ec;
    const fs::perms perms = fs::status(PathOfUtf8(path), ec).permissions();
    if (ec) return Failed(path + ": " + ec.message());
    constexpr fs::perms kAnyExec =
        fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    entry->Executable = (perms & kAnyExec) != fs::perms::none;
#endif
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

}  // namespace toval::catalog_tool
