#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

#include "net/CInetFile.h"
#include "net/patch_apply.h"
#include "net/patch_limits.h"
#include "net/resume_info.h"
#include "net/temporary_paths.h"
#include "net/update_path.h"
#include "platform/crypto.h"
#include "platform/file_handle.h"
#include "platform/file_identity.h"
#include "platform/mapped_file.h"

namespace toval {

namespace {

using Clock = std::chrono::steady_clock;

// The installed file's hash as the caller's cache keeps it, while the file at `path` still is the
// one it was taken of; nothing otherwise.
std::optional<Sha256Digest> KeptHashOf(const std::string& path,
                                       const std::optional<InstalledDigest>& known) {
    if (!known) return std::nullopt;
    const std::optional<IdentifiedFile> now = IdentifyFile(FileHandle::Open(path, OpenFor::Read));
    if (!now || now->Identity != known->Identity) return std::nullopt;
    return known->Digest;
}

// The SHA-256 of a regular file; nothing when it cannot be read, or a stop is asked for (a
// file of gigabytes takes seconds).
std::optional<Sha256Digest> HashOfFile(const std::string& path, std::stop_token stop) {
    constexpr size_t kPiece = 4 << 20;
    const MappedFile file(path);
    if (!file.Ok()) return std::nullopt;
    Sha256 hash;
    for (std::string_view left = file.Bytes(); !left.empty();) {
        if (stop.stop_requested()) return std::nullopt;
        const std::string_view piece = left.substr(0, kPiece);
        hash.Update(piece);
        left.remove_prefix(piece.size());
    }
    return hash.Final();
}

}  // namespace

bool CInetFile::PatchOnOffer() const {
    if (Req.Writes != BodyTarget::UpdateFile || !ParseSha256Hex(Req.Sha256)) return false;
    for (const TransferPatch& p : Req.Patches)
        if (PatchWorthFetching(p.Length, Req.ExpectedLength)) return true;
    return false;
}

std::optional<int32_t> CInetFile::FetchByPatch(const std::stop_token& stop) {
    const std::optional<Sha256Digest> wanted = ParseSha256Hex(Req.Sha256);
    std::vector<const TransferPatch*> offered;
    for (const TransferPatch& p : Req.Patches)
        if (PatchWorthFetching(p.Length, Req.ExpectedLength)) offered.push_back(&p);
    if (Req.Writes != BodyTarget::UpdateFile || offered.empty() || !wanted ||
        ExaminePath(Req.TargetPath).Kind != PathKind::Regular)
        return std::nullopt;
    // The patch made from the installed version. Its hash kept from the install decides without
    // a read; with one patch on offer and no hash kept, that patch is applied unread, since the
    // result's own hash shows whether it was made from this file (reading a file of gigabytes
    // first would cost more than the patch saves on a fast link). Only a choice between patches
    // reads the installed file.
    std::optional<Sha256Digest> installed = KeptHashOf(Req.TargetPath, Req.Installed);
    if (!installed && offered.size() > 1) installed = HashOfFile(Req.TargetPath, stop);
    const TransferPatch* chosen = offered.size() == 1 && !installed ? offered.front() : nullptr;
    for (const TransferPatch* p : offered)
        if (!chosen && installed && ParseSha256Hex(p->FromSha256) == installed) chosen = p;
    if (!chosen) return std::nullopt;

    // The patch is fetched like a file of its own beside the target, with every limit of one.
    TransferRequest fetch;
    fetch.Kind = 2;
    fetch.URL = chosen->URL;
    fetch.Mirrors = Req.Mirrors;
    fetch.TargetPath = PatchTargetPath(Req.TargetPath);
    fetch.Resume = Req.Resume;
    fetch.ExpectedLength = chosen->Length;
    fetch.SyncOnClose = false;
    fetch.ConnectTimeout = Req.ConnectTimeout;
    fetch.MinimumRate = Req.MinimumRate;
    fetch.RateWindow = Req.RateWindow;
    fetch.RateGrace = Req.RateGrace;
    const int32_t code = FetchAndWait(fetch, false);
    const std::string patchPath = UpdateFilePath(fetch.TargetPath);
    // A patch is small: one cut off is fetched again rather than continued, so nothing of it is
    // kept. Under the lock whatever its download left is ours; without it, a failed attempt has
    // removed what it made, and anything else is another writer's.
    if (code != kResultOk && Req.Resume) RemoveDownloadLeftovers(fetch.TargetPath);
    if (code == kResultOk && stop.stop_requested()) RemoveFile(patchPath);
    if (code == kResultCancelled || stop.stop_requested()) return kResultCancelled;
    if (code != kResultOk) return std::nullopt;

    const PatchOutput out{UpdateFilePath(Req.TargetPath), Req.ExpectedLength, Req.Resume,
                          Req.FileMode, Req.SyncOnClose};
    const std::optional<Sha256Digest> made = ApplyPatch(Req.TargetPath, patchPath, out);
    RemoveFile(patchPath);
    if (made != wanted) {
        if (made) RemoveFile(out.Path);
        return std::nullopt;
    }
    // A partial of the whole file an earlier run left is of no use now.
    if (Req.Resume) RemoveFile(ResumeInfoPath(Req.TargetPath));
    // The bars end full: what the patch saved counts as received.
    const uint64_t fetched = ReceivedBytes.load(std::memory_order_relaxed);
    ReceivedBytes.store(0, std::memory_order_relaxed);
    Report(Req.ExpectedLength > fetched ? Req.ExpectedLength - fetched : 0, 0, Clock::now());
    ReceivedBytes.store(Req.ExpectedLength, std::memory_order_relaxed);
    Outcome.AnsweredBy = chosen->URL;
    Outcome.Patched = true;
    return kResultOk;
}

}  // namespace toval
