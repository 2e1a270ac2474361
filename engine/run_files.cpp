// The driver of the run: what happens when a transfer has ended, and how files get installed.

#include <algorithm>
#include <filesystem>
#include <vector>

#include "engine/CUpdateRun.h"
#include "engine/file_mode.h"
#include "engine/known_digest.h"
#include "engine/status_texts.h"
#include "net/derived_urls.h"
#include "net/patch_limits.h"
#include "net/resume_info.h"
#include "net/update_path.h"
#include "platform/disk_space.h"
#include "platform/file_handle.h"
#include "platform/utf8_path.h"

namespace toval {

namespace {
uint64_t Kilobytes(uint64_t bytes) { return bytes >> 10; }

// Writes what a later run needs to continue (here: to confirm) the complete download of `item`.
void DescribeKeptDownload(const QueuedTransfer& item) {
    const TransferResult& result = item.Transfer->Result();
    const std::string validator = ResumeValidator(result.ETag, result.LastModified);
    if (validator.empty() || result.AnsweredBy.empty()) return;
    WriteResumeInfo(ResumeInfoPath(item.TargetPath()),
                    {result.AnsweredBy, validator, item.Transfer->Received()});
}
}  // namespace

uint32_t CUpdateRun::OnDownloadComplete(uint32_t wParam, ITransfer* transfer) {
    CheckThread();
    QueuedTransfer* item = Scheduler.Ended(transfer, LowWord(wParam));
    if (!item) return 0;
    if (Log) LogTransfer(*item);
    if (item->Role == TransferRole::File) {
        FileEnded(*item);
    } else {
        CatalogueEnded(*item);
    }
    Scheduler.UpdateShown();
    // Start the next file now rather than at the next tick, so that a run of many small files
    // is not paced by the timer. Inside a message box's nested loop the outer handler still has
    // work to do, so the next tick starts it instead.
    if (MessageBoxDepth == 0) StartReady();
    return 0;
}

void CUpdateRun::ShowVerified() {
    if (!VerifyBytes) return;
    SetStatus(FillText(kTextVerified,
                       {std::to_string(Verified.Checked), std::to_string(Verified.Damaged)}));
}

void CUpdateRun::LogTransfer(const QueuedTransfer& item) {
    const TransferRequest& request = item.Transfer->Request();
    const TransferResult& result = item.Transfer->Result();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock.Now() - item.StartedAt);
    std::string line = "GET " + WithoutCredentials(request.URL);
    if (!result.AnsweredBy.empty() && result.AnsweredBy != request.URL)
        line += " answered by " + WithoutCredentials(result.AnsweredBy);
    line += ": result " + std::to_string(item.Code) + ", HTTP " +
            (result.HttpStatus ? std::to_string(result.HttpStatus) : std::string("none")) + ", " +
            std::to_string(result.FetchedBytes) + " bytes in " + std::to_string(ms.count()) + " ms";
    if (result.NotModified) line += ", not modified";
    if (result.Resumed) line += ", continued a partial file";
    if (result.Patched) line += ", made by a patch";
    if (item.Code != 0) line += " (" + result.ErrorText + ")";
    Log->Line(line);
}

void CUpdateRun::CatalogueEnded(QueuedTransfer& item) {
    const bool keep = Lock && Lock->IsHeld();
    CatalogueStep step = Fetch.Completed(item, ServerList.First(), keep);
    const std::string server = item.ServerName;
    Scheduler.Queue().PopFront();  // destroys it, joining its worker
    switch (step.What) {
        case CatalogueStep::Kind::Next:
            Scheduler.Push(std::move(step.Transfer));
            return;
        case CatalogueStep::Kind::Refused:
            if (Log) Log->Line("catalogue refused: " + std::string(RefusalCause(step.Why)));
            CatalogueFailed(server, RefusalText(step));
            return;
        case CatalogueStep::Kind::Accepted:
            QueueFiles();
            return;
    }
}

void CUpdateRun::QueueFiles() {
    if (VerifyBytes) {
        Verified = UpdateCatalog.VerifyBytes(Hashes());
        if (Log) {
            Log->Line("verified " + std::to_string(Verified.Checked) + " files, " +
                      std::to_string(Verified.Damaged) + " not their listed bytes");
        }
    }
    FileCount = UpdateCatalog.RetainOutdated(Fetch.SignedMode() ? &Hashes() : nullptr);
    // Written before any install, as installs append to the file what they learn.
    if (KnownHashes) KnownHashes->Save();
    if (FileCount == 0) {
        SetStatus(std::string(kTextUpToDate));
        ShowVerified();
        Result = Outcome::UpToDate;
        SendResult(0);
        PostQuit();
        return;
    }
    SendResult(FileCount);
    std::vector<std::unique_ptr<CFileEntry>> entries;
    entries.reserve(FileCount);
    TotalBytes = 0;
    while (std::unique_ptr<CFileEntry> entry = UpdateCatalog.TakeFirst()) {
        TotalBytes += KnownLength(entry->Length);
        entries.push_back(std::move(entry));
    }
    SetStatus(FillText(kTextTotals, {std::to_string(FileCount), std::to_string(TotalBytes >> 10)}));
    CurrentStage = RunStage::Downloading;
    for (std::unique_ptr<CFileEntry>& entry : entries) {
        QueuedTransfer file;
        file.ServerName = ServerList.First() ? ServerList.First()->Name : std::string();
        file.Entry = std::move(entry);
        Scheduler.Push(std::move(file));
    }
    FitsOnDisk();
}

bool CUpdateRun::FitsOnDisk() {
    std::vector<std::pair<std::string, uint64_t>> files;
    Scheduler.Queue().ForEach([&](const QueuedTransfer& t) {
        if (t.Role != TransferRole::File) return;
        // A patch is fetched beside its file and stays until it has been applied, so a file
        // that may come by patch needs room for the longest it may fetch as well.
        uint64_t patch = 0;
        if (t.Entry && !t.Entry->Sha256.empty())
            for (const FilePatch& p : t.Entry->Patches)
                if (PatchWorthFetching(p.Length, t.ExpectedLength()))
                    patch = std::max(patch, p.Length);
        files.emplace_back(t.TargetPath(), t.ExpectedLength() + patch);
    });
    const std::optional<SpaceShortage> shortage = FindSpaceShortage(files);
    if (!shortage) return true;
    // Nothing is fetched: a download that cannot fit would only fill the disk and fail.
    const std::string text =
        FillText(kTextDiskFull, {std::to_string(Kilobytes(shortage->Needed)),
                                 std::to_string(Kilobytes(shortage->Available))});
    FileFailedWith(text, text, kBoxIconError | kBoxOk);
    return false;
}

void CUpdateRun::CatalogueFailed(const std::string& serverName, const std::string& errorText) {
    EndBeforeFiles(FillText(kTextErrorAtServer, {errorText, serverName}), errorText);
}

void CUpdateRun::EndBeforeFiles(const std::string& status, const std::string& boxText) {
    SetStatus(status);
    Result = Outcome::Failed;
    CurrentStage = RunStage::Ended;
    ShowMessageBox(boxText, std::string(kCaptionSystemNotice), kBoxIconError | kBoxOk);
    SendResult(0);
    PostQuit();
}

HashCache& CUpdateRun::Hashes() const {
    if (!KnownHashes) KnownHashes = HashCache::Load(StateDir());
    return *KnownHashes;
}

TransferRequest CUpdateRun::FileRequest(const CFileEntry& file) const {
    TransferRequest request;
    request.Kind = 2;
    request.URL = file.URL;
    request.Mirrors = UpdateCatalog.Mirrors();
    request.TargetPath = file.FullPath;
    request.ExpectedLength = KnownLength(file.Length);
    request.Sha256 = file.Sha256;
    // Patches are named relative to the catalogue that lists them. One that could not save
    // bytes is left out, as the space check left it out.
    for (const FilePatch& patch : file.Patches) {
        if (!PatchWorthFetching(patch.Length, request.ExpectedLength)) continue;
        if (std::optional<std::string> url = ResolveUrl(Fetch.AcceptedUrl(), patch.URL))
            request.Patches.push_back({patch.FromSha256, std::move(*url), patch.Length});
    }
    if (!request.Patches.empty()) request.Installed = KnownDigest(Hashes(), file.FullPath);
    request.SyncOnClose = false;  // the batch is synced at once before it is installed
    // Under the run lock no other updater writes here: a partial download that a run before
    // left is this updater's to continue or replace.
    request.Resume = Lock && Lock->IsHeld();
    // A file new to this version may live in a directory the client does not have yet. Its path
    // has been checked to stay inside its base directory; if the directory cannot be made, the
    // transfer reports that it could not create its file.
    std::error_code ignored;
    const std::string dir = ParentDirectory(file.FullPath);
    std::filesystem::create_directories(PathOfUtf8(dir), ignored);
    request.FileMode = FileModeFor(file);
    // A catalogue that gives no length cannot have the body checked against it; such a body
    // still may not take the disk: past half of what is free it is stopped.
    if (request.ExpectedLength == 0) request.MaxLength = std::max<uint64_t>(1, FreeBytes(dir) / 2);
    return request;
}

void CUpdateRun::FileEnded(QueuedTransfer& item) {
    if (item.State == FileState::Failed && CurrentStage == RunStage::Downloading) {
        // The run ends at the first failing file in catalogue order, so nothing after this one
        // can be installed: those still running stop now. Files before it may still be running;
        // they finish, and one of them may be the failure the player is shown.
        CurrentStage = RunStage::Stopping;
        Scheduler.CancelAfter(item);
    }
    InstallReady(InstallTrigger::Completion);
    if (QueuedCount() == 0 && CurrentStage == RunStage::Downloading) {
        SetStatus(std::string(kTextFinished));
        ShowVerified();
        Result = Outcome::Finished;
        Files->SyncDirectories();  // the lobby must find the new files, even after a crash
        Programs.StartLobby();
        PostQuit();
    }
}

void CUpdateRun::InstallReady(InstallTrigger trigger) {
    // A message box of a failed install runs a nested loop, in which further completions arrive;
    // they wait for the outer handler.
    if (MessageBoxDepth > 0) return;
    if (CurrentStage != RunStage::Downloading && CurrentStage != RunStage::Stopping) return;
    const ReadyFront ready = Scheduler.FindReadyFront();
    if (ready.Count == 0) return;
    const bool now = trigger == InstallTrigger::Tick || ready.HasFailure || ready.ReachesEnd ||
                     ready.Count >= kInstallBatchFiles || ready.Bytes >= kInstallBatchBytes ||
                     ready.NextLength >= kLongFileBytes || CurrentStage == RunStage::Stopping;
    if (now) InstallFront(ready.Count, ActionTiming::Now);
}

void CUpdateRun::InstallFront(size_t count, ActionTiming timing) {
    std::vector<std::string> downloads;
    {
        QueuedTransfer* item = Scheduler.Queue().Front();
        for (size_t i = 0; i < count && item; ++i, item = Scheduler.Queue().After(*item))
            if (item->State == FileState::Fetched)
                downloads.push_back(UpdateFilePath(item->TargetPath()));
    }
    // The data must be on the disk before a rename can make it the player's file.
    const bool synced = Files->SyncDownloads(downloads);
    for (size_t i = 0; i < count && CurrentStage != RunStage::Ended; ++i) {
        QueuedTransfer* item = Scheduler.Queue().Front();
        if (!item) break;
        if (item->State == FileState::Fetched) {
            item->State = synced ? FileState::OnDisk : FileState::Failed;
            if (!synced) {
                item->Code = kResultLocalFile;
                RemoveFile(UpdateFilePath(item->TargetPath()));
            }
        }
        InstallOne(*item, timing);
        Scheduler.Queue().PopFront();
    }
    Scheduler.UpdateShown();
    // A file still downloading that has become the front, every file before it in, has its
    // name as the status line now.
    QueuedTransfer* front = Scheduler.Queue().Front();
    if (front && front->State == FileState::Fetching && front->Role == TransferRole::File &&
        !front->StatusShown && CurrentStage == RunStage::Downloading) {
        SetStatus(FillText("%s", {front->FileName()}));
        front->StatusShown = true;
    }
}

void CUpdateRun::InstallOne(QueuedTransfer& item, ActionTiming timing) {
    if (!item.StatusShown) SetStatus(FillText("%s", {item.FileName()}));
    const CFileEntry& file = *item.Entry;
    if (item.State == FileState::Failed) {
        const std::string status =
            FillText(kTextFileFailed, {file.FileName, std::to_string(item.Code)});
        FileFailedWith(status, FillText(kTextNetworkCause, {status}), kBoxOk);
        return;
    }
    const InstallResult installed = Files->Install(file, item.ExpectedLength(), timing);
    if (Log) {
        Log->Line((installed == InstallResult::Installed ? "installed " : "could not install ") +
                  file.FullPath);
    }
    switch (installed) {
        case InstallResult::Installed:
            item.State = FileState::Installed;
            SetStatus(FillText(kTextFileInstalled, {file.FileName}));
            return;
        case InstallResult::DirectoryInTheWay: {
            const std::string status = FillText(kTextDeleteFailed, {file.FileName});
            FileFailedWith(status, status, kBoxIconError | kBoxOk);
            return;
        }
        case InstallResult::RenameFailed: {
            // A file that cannot be put in place is a failed file like any other: the client is
            // not current, so neither "finished" nor the lobby may follow.
            SetStatus(FillText(kTextRenameFailed, {file.FileName}));
            FileFailedWith(StatusText, StatusText, kBoxIconError | kBoxOk);
            return;
        }
    }
}

bool CUpdateRun::InstallFile(const CFileEntry& file) {
    if (Files->Install(file, KnownLength(file.Length), ActionTiming::Now) ==
        InstallResult::Installed) {
        SetStatus(FillText(kTextFileInstalled, {file.FileName}));
        return true;
    }
    SetStatus(FillText(kTextRenameFailed, {file.FileName}));
    return false;
}

void CUpdateRun::FileFailedWith(const std::string& status, const std::string& boxText,
                                uint32_t type) {
    SetStatus(status);
    Result = Outcome::Failed;
    CurrentStage = RunStage::Ended;
    ShowMessageBox(boxText, std::string(), type);
    PostQuit();
}

void CUpdateRun::EndEarly() {
    const bool installing =
        CurrentStage == RunStage::Downloading || CurrentStage == RunStage::Stopping;
    CurrentStage = RunStage::Ended;
    CDownloadQueue& queue = Scheduler.Queue();
    queue.CancelAll();
    if (installing && MessageBoxDepth == 0) {
        // A transfer that completed while it was being cancelled counts as complete.
        size_t front = 0;
        bool gap = false;
        for (QueuedTransfer* item = queue.Front(); item; item = queue.After(*item)) {
            if (item->Role != TransferRole::File) break;
            if (item->State == FileState::Fetching) {
                item->Transfer->Join();
                item->Code = static_cast<uint32_t>(item->Transfer->Result().Code);
                item->State = item->Code == 0 ? FileState::Fetched : FileState::Failed;
            }
            gap = gap || item->State != FileState::Fetched;
            if (!gap) ++front;
        }
        // The files complete and verified at the front go in now rather than be fetched again
        // next time; their actions wait in the journal for the next run.
        CurrentStage = RunStage::Stopping;
        InstallFront(front, ActionTiming::NextRun);
        CurrentStage = RunStage::Ended;
        // A complete file behind an unfinished one stays, described as a partial is, so that
        // the next run has it confirmed with one small request instead of fetching it again.
        queue.ForEach([](const QueuedTransfer& item) {
            if (item.State == FileState::Fetched) DescribeKeptDownload(item);
        });
    }
    DropQueue(CompleteFiles::Keep);
    Files->SyncDirectories();
}

}  // namespace toval
