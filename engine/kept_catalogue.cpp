#include "engine/kept_catalogue.h"

#include <filesystem>
#include <sstream>

#include "platform/file_handle.h"
#include "platform/file_read.h"
#include "platform/replace_file.h"
#include "platform/utf8_path.h"

namespace toval {

namespace {

constexpr uint64_t kInfoMaxBytes = 16 << 10;

std::string InfoPath(const std::string& stateDir) { return stateDir + "/catalogue.info"; }
std::string CopyPath(const std::string& stateDir) { return stateDir + "/catalogue.xml"; }

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

std::optional<KeptCatalogue> FindAnyKeptCatalogue(const std::string& stateDir) {
    const std::optional<std::string> info = ReadSmallFile(InfoPath(stateDir), kInfoMaxBytes);
    if (!info) return std::nullopt;
    KeptCatalogue kept;
    std::istringstream lines(*info);
    if (!std::getline(lines, kept.Url) || !std::getline(lines, kept.ETag) ||
        !std::getline(lines, kept.LastModified))
        return std::nullopt;
    for (std::string mirror; std::getline(lines, mirror);) kept.Mirrors.push_back(mirror);
    kept.Path = CopyPath(stateDir);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(PathOfUtf8(kept.Path), ec)) return std::nullopt;
    return kept;
}

std::optional<KeptCatalogue> FindKeptCatalogue(const std::string& stateDir,
                                               const std::string& url) {
    std::optional<KeptCatalogue> kept = FindAnyKeptCatalogue(stateDir);
    if (kept && kept->Url != url) return std::nullopt;
    return kept;
}

bool KeepCatalogue(const std::string& stateDir, const std::string& source,
                   const KeptCatalogue& kept) {
    // A value with a line break cannot be stored as a line.
    bool storable =
        !HasLineBreak(kept.Url) && !HasLineBreak(kept.ETag) && !HasLineBreak(kept.LastModified);
    for (const std::string& mirror : kept.Mirrors) storable = storable && !HasLineBreak(mirror);
    if (!storable) {
        ForgetKeptCatalogue(stateDir);
        return false;
    }
    // The old information goes first: a crash half way leaves no pairing of new validators
    // with an old copy.
    RemoveFile(InfoPath(stateDir));
    const std::string copyTemp = CopyPath(stateDir) + ".new";
    std::error_code ec;
    std::filesystem::copy_file(PathOfUtf8(source), PathOfUtf8(copyTemp),
                               std::filesystem::copy_options::overwrite_existing, ec);
    // The copy reaches the disk before its name does, and the information, which pairs the
    // validators with it, after both: a power loss never leaves validators that a 304 answer
    // would match against an empty copy.
    bool ok = !ec && FileHandle::Open(copyTemp, OpenFor::Update).Sync() &&
              RenameOver(copyTemp, CopyPath(stateDir));
    if (ok) {
        std::string info = kept.Url + '\n' + kept.ETag + '\n' + kept.LastModified + '\n';
        for (const std::string& mirror : kept.Mirrors) info += mirror + '\n';
        ok = ReplaceFileWith(InfoPath(stateDir), info);
    }
    if (!ok) {
        RemoveFile(copyTemp);
        ForgetKeptCatalogue(stateDir);
    }
    return ok;
}

void ForgetKeptCatalogue(const std::string& stateDir) {
    RemoveFile(InfoPath(stateDir));
    RemoveFile(CopyPath(stateDir));
}

}  // namespace toval
