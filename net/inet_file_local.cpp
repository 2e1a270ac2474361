#include "net/inet_file_transfer.h"

#include <chrono>

#include "net/resume_info.h"
#include "net/update_path.h"
#include "platform/file_handle.h"

namespace toval {

namespace {

constexpr uint64_t kTrailingHashBytes = 4 << 20;
// A body shorter than this comes again in about the time its partial would take to continue,
// so none is kept to continue (which costs two file operations per file). An unknown length
// (0) is always kept.
constexpr uint64_t kResumableBytes = 1 << 20;

using Clock = std::chrono::steady_clock;

// A size on the disk of a regular file that is not a link; nothing otherwise.
std::optional<uint64_t> RegularFileSize(const std::string& path) {
    const PathStatus status = ExaminePath(path);
    if (status.Kind != PathKind::Regular) return std::nullopt;
    return status.Size;
}

}  // namespace

void CInetFile::Transfer::FindPartial() {
    if (Req.Writes != BodyTarget::UpdateFile || !Req.Resume || !MayContinue) return;
    // Most files have no partial: one look, before anything is read.
    const std::optional<uint64_t> size = RegularFileSize(LocalPath);
    if (!size || *size == 0) return;
    FoundPartial = true;
    // A validator only says what the server thinks: nginx's count whole seconds, so a file
    // replaced within one at the same length looks unchanged. Only the hash proves the joined
    // result, so without one the whole body is fetched and replaces the partial.
    if (!ExpectedDigest) return;
    const std::optional<ResumeInfo> info = ReadResumeInfo(ResumeInfoPath(Req.TargetPath));
    if (!info || info->URL != Url) return;
    const uint64_t whole = Req.ExpectedLength != 0 ? Req.ExpectedLength : info->Length;
    if (whole != 0 && *size > whole) return;
    if (Req.ExpectedLength != 0 && info->Length != 0 && info->Length != Req.ExpectedLength) return;
    // A download cut off after its last byte (while it was checked, say) is not trusted without
    // an answer: its last byte is asked for again, which also shows that the server still
    // serves what it began.
    Offset = whole != 0 && *size == whole ? whole - 1 : *size;
    if (Offset == 0) return;
    Validator = info->Validator;
}

void CInetFile::Transfer::DropPartial() {
    RemoveFile(LocalPath);
    if (Req.Writes == BodyTarget::UpdateFile) RemoveFile(ResumeInfoPath(Req.TargetPath));
}

bool CInetFile::Transfer::OpenLocalFile() {
    if (File.IsOpen()) return true;
    if (Req.TargetPath.empty()) return false;
    if (Status == 206) {
        // Only the ".update" file this request continues, under the caller's lock.
        if (!File.Continue(LocalPath, Offset)) return false;
        OwnsFile = true;
        Resumable = true;
        BodyBytes = Offset;
        Owner.Report(Offset, 0, Clock::now());
    } else {
        // An ".update" file is only ever created, never truncated, unless the caller holds the
        // lock or an earlier attempt of this request made it: otherwise one already there is
        // another writer's.
        const bool update = Req.Writes == BodyTarget::UpdateFile;
        const bool exclusive = update && !Req.Resume && !Created;
        if (!File.Open(LocalPath, exclusive)) return false;
        OwnsFile = update;
        Created = Created || update;
        if (update && Req.Resume && KeepsPartial && ExpectedDigest &&
            (Req.ExpectedLength == 0 || Req.ExpectedLength >= kResumableBytes)) {
            // What the next run needs to continue this body, should this one be cut off.
            const std::string validator = ResumeValidator(ETag, LastModified);
            const std::string info = ResumeInfoPath(Req.TargetPath);
            const uint64_t whole = ContentLength.value_or(0);
            Resumable = !validator.empty() && WriteResumeInfo(info, {Url, validator, whole});
        }
        // A description an earlier run left does not describe this body.
        if (update && FoundPartial && !Resumable) {
            RemoveFile(ResumeInfoPath(Req.TargetPath));
        }
    }
    // A large body is hashed beside the download rather than in its way; a small one is hashed
    // as it arrives, which costs less than a thread. Either way the hash covers what a continued
    // file held already.
    if (ExpectedDigest && Req.ExpectedLength >= kTrailingHashBytes && File.HashWhileWriting())
        return true;
    return !ExpectedDigest || HashExisting();
}

bool CInetFile::Transfer::HashExisting() {
    if (BodyBytes == 0) return true;
    const uint64_t done = File.ReadBack(
        BodyBytes, [this](const char* data, size_t size) { Hash.Update(data, size); });
    return done == BodyBytes;
}

}  // namespace toval
