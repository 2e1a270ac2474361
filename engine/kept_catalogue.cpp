#include "engine/kept_catalogue.h"

#include <filesystem>
#include <string_view>

#include "platform/file_handle.h"
#include "platform/file_read.h"
#include "platform/replace_file.h"
#include "platform/state_record.h"
#include "platform/utf8_path.h"

namespace toval {

namespace {

constexpr uint64_t kInfoMaxBytes = 16 << 10;

std::string InfoPath(const std::string& stateDir) { return stateDir + "/catalogue.info"; }
std::string CopyPath(const std::string& stateDir) { return stateDir + "/catalogue.xml"; }

// The layout of an earlier version, plain lines, is not read: its copy is fetched again once.
constexpr std::string_view kHeader = "toval-updater catalogue 1";

}  // namespace

std::optional<KeptCatalogue> FindAnyKeptCatalogue(const std::string& stateDir) {
    const std::optional<std::string> info = ReadSmallFile(InfoPath(stateDir), kInfoMaxBytes);
    const std::optional<std::vector<std::string>> fields =
        info ? ParseStateRecord(*info, kHeader) : std::nullopt;
    if (!fields || fields->size() < 3) return std::nullopt;
    KeptCatalogue kept;
    kept.Url = (*fields)[0];
    kept.ETag = (*fields)[1];
    kept.LastModified = (*fields)[2];
    kept.Mirrors.assign(fields->begin() + 3, fields->end());
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
        std::vector<std::string_view> fields = {kept.Url, kept.ETag, kept.LastModified};
        fields.insert(fields.end(), kept.Mirrors.begin(), kept.Mirrors.end());
        ok = ReplaceFileWith(InfoPath(stateDir), FormatStateRecord(kHeader, fields));
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
