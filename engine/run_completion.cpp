// The driver of the run: what happens when a transfer has ended.

#include <optional>
#include <vector>

#include "engine/CUpdateRun.h"
#include "engine/kept_catalogue.h"
#include "engine/status_texts.h"
#include "net/update_path.h"
#include "platform/disk_space.h"
#include "platform/file_handle.h"
#include "platform/file_read.h"

namespace toval {

namespace {

bool IsDirectory(const std::string& path) { return ExaminePath(path).Kind == PathKind::Directory; }

uint64_t Kilobytes(uint64_t bytes) { return bytes >> 10; }

}  // namespace

uint32_t CUpdateRun::OnDownloadComplete(uint32_t wParam, ITransfer* transfer) {
    CheckThread();
    QueuedTransfer* item = DownloadQueue.Find(transfer);
    if (!item || item->Done) return 0;
    item->Done = true;
    item->Code = LowWord(wParam);
    if (RunningTransfers > 0) --RunningTransfers;

    if (item == SignatureFetch) {
        SignatureCompleted(*item);
        DownloadQueue.PopFront();
    } else if (item->Kind == 1) {
        if (item->Code == 0) {
            CatalogueCompleted(*item);
        } else {
            CatalogueFailed(*item, transfer->Result().ErrorText);
        }
        DownloadQueue.PopFront();  // destroys it, joining its worker
    } else {
        FileDone(*item);
    }
    UpdateActive();

    // Start the next file now rather than at the next tick, so that a run of many small files
    // is not paced by the timer. Inside a message box's nested loop the outer handler still has
    // work to do, so the next tick starts it instead.
    if (MessageBoxDepth == 0) PumpStep();
    return 0;
}

void CUpdateRun::FileDone(QueuedTransfer& item) {
    if (item.Code != 0 && !StartingStopped) {
        // The run ends at the first failing file in catalogue order, so nothing after this one
        // can be installed: those still running stop now. Files before it may still be running;
        // they finish, and one of them may be the failure the player is shown.
        StartingStopped = true;
        for (QueuedTransfer* later = DownloadQueue.After(item); later;
             later = DownloadQueue.After(*later))
            if (later->Started() && !later->Done) later->Transfer->Cancel();
    }
    InstallFinished();
    if (DownloadQueue.Count() == 0 && !FileFailed && !QuitPosted) {
        SetStatus(std::string(kTextFinished));
        Result = Outcome::Finished;
        SyncInstalledDirectories();  // the lobby must find the new files, even after a crash
        LaunchLobby();
        PostQuit();
    }
}

void CUpdateRun::InstallFinished() {
    // A message box of a failed install runs a nested loop, in which further completions arrive;
    // they wait for this batch.
    if (Installing) return;
    size_t count = 0;
    uint64_t bytes = 0;
    bool ends = false;  // the batch goes now
    QueuedTransfer* next = DownloadQueue.Front();
    for (; next && next->Kind == 2 && next->Done; next = DownloadQueue.After(*next)) {
        ++count;
        bytes += next->Transfer ? next->Transfer->Received() : 0;
        // A file that fails ends its batch before anything later is installed; one that will
        // not install (a directory in its place) is found when its batch is installed.
        ends = ends || next->Code != 0;
    }
    if (count == 0) return;
    ends = ends || !next || count >= kInstallBatchFiles || bytes >= kInstallBatchBytes ||
           next->ExpectedLength() >= kLongFileBytes || StartingStopped;
    if (!ends) return;

    std::vector<QueuedTransfer> batch;
    batch.reserve(count);
    std::vector<std::string> downloads;
    for (size_t i = 0; i < count; ++i) {
        batch.push_back(DownloadQueue.TakeFront());
        if (batch.back().Code == 0) downloads.push_back(UpdateFilePath(batch.back().TargetPath()));
    }
    Installing = true;
    // The data must be on the disk before a rename can make it the player's file: after a
    // power loss a renamed file could otherwise be empty.
    const bool synced = downloads.empty() || SyncFileSystemsOf(downloads);
    for (QueuedTransfer& item : batch) {
        if (FileFailed) {
            RemoveFile(UpdateFilePath(item.TargetPath()));
            continue;
        }
        if (!item.StatusShown) SetStatus(FillText("%s", {item.FileName()}));
        if (item.Code == 0 && !synced) {
            item.Code = kResultLocalFile;
            RemoveFile(UpdateFilePath(item.TargetPath()));
        }
        FileCompleted(item);
    }
    Installing = false;
}

void CUpdateRun::UpdateActive() {
    Active = nullptr;
    for (QueuedTransfer* item = DownloadQueue.Front(); item; item = DownloadQueue.After(*item)) {
        if (!item->Started()) return;
        if (item->Done) continue;
        Active = item;
        // The files before it are installed: its name is now the status line.
        if (item == DownloadQueue.Front() && item->Kind == 2 && !item->StatusShown && !FileFailed &&
            !QuitPosted) {
            SetStatus(FillText("%s", {item->FileName()}));
            item->StatusShown = true;
        }
        return;
    }
}

void CUpdateRun::CatalogueCompleted(QueuedTransfer& item) {
    const ITransfer& transfer = *item.Transfer;
    const TransferRequest& request = transfer.Request();
    const TransferResult& result = transfer.Result();
    // A 304 answer: the copy kept from an earlier launch is current, and is checked as if it had
    // just arrived.
    const std::string stateDir = StateDir();
    const std::optional<KeptCatalogue> kept =
        result.NotModified ? FindKeptCatalogue(stateDir, request.URL) : std::nullopt;
    const std::string source = kept ? kept->Path : request.TargetPath;
    if (!result.NotModified) SetStatus(FillText(kTextCatalogueFetched, {item.ServerName}));
    bool loaded = false;
    std::optional<std::string_view> refusal;
    if (result.NotModified && !kept) {
        loaded = false;  // the copy went missing meanwhile
    } else if (TrustedKeys) {
        const std::optional<std::string> bytes = ReadSmallFile(source, kCatalogueMaxBytes);
        refusal = bytes ? CheckSignedCatalogue(*bytes) : std::optional(kTextCatalogueUnreadable);
        loaded = !refusal;
    } else {
        loaded = UpdateCatalog.Load(source);
    }
    // A catalogue lists every file of the client, so one that lists none is not a catalogue but,
    // say, a well-formed error page. Either way the run ends as a failed download does, rather
    // than stall for good or tell the player that an unknown version is current.
    if (loaded && UpdateCatalog.Count() == 0) loaded = false;
    if (loaded && !result.NotModified && Lock && Lock->IsHeld()) {
        // Validators from a mirror would not match the server asked next time: the copy is
        // kept (its mirrors are the fallback when that server is down), but asked for afresh.
        const bool own = result.AnsweredBy == request.URL;
        KeepCatalogue(stateDir, source,
                      {source, request.URL, own ? result.ETag : std::string(),
                       own ? result.LastModified : std::string(), UpdateCatalog.Mirrors()});
    }
    RemoveFile(request.TargetPath);
    if (result.NotModified) {
        if (!loaded) {
            // The kept copy fails a check (damaged, or not what the new signature signs: a
            // catalogue republished within the second its validators count). It is dropped and
            // the whole catalogue fetched at once.
            UpdateCatalog.Clear();
            ForgetKeptCatalogue(stateDir);
            if (const CServerEntry* server = ServerList.First()) QueueCatalogue(*server);
            return;
        }
        SetStatus(FillText(kTextCatalogueFetched, {item.ServerName}));
    }
    if (!loaded) {
        CatalogueFailed(item, std::string(refusal.value_or(kTextCatalogueUnreadable)));
        return;
    }

    CatalogueUrl = request.URL;
    FileCount = UpdateCatalog.RetainOutdated();
    TotalBytes = UpdateCatalog.OutdatedLength();
    if (FileCount == 0) {
        SetStatus(std::string(kTextUpToDate));
        Result = Outcome::UpToDate;
        SendResult(0);
        PostQuit();
        return;
    }

    SendResult(FileCount);
    SetStatus(FillText(kTextTotals, {std::to_string(FileCount), std::to_string(TotalBytes >> 10)}));
    while (std::unique_ptr<CFileEntry> entry = UpdateCatalog.TakeFirst()) {
        QueuedTransfer file;
        file.Kind = 2;
        file.ServerName = item.ServerName;
        file.Entry = std::move(entry);
        DownloadQueue.Push(std::move(file));
    }
    FitsOnDisk();
}

bool CUpdateRun::FitsOnDisk() {
    std::vector<std::pair<std::string, uint64_t>> files;
    DownloadQueue.ForEach([&](const QueuedTransfer& t) {
        if (t.Kind == 2) files.emplace_back(t.TargetPath(), t.ExpectedLength());
    });
    const std::optional<SpaceShortage> shortage = FindSpaceShortage(files);
    if (!shortage) return true;
    // Nothing is fetched: a download that cannot fit would only fill the disk and fail.
    const std::string text =
        FillText(kTextDiskFull, {std::to_string(Kilobytes(shortage->Needed)),
                                 std::to_string(Kilobytes(shortage->Available))});
    FileFailedWith(text, text, MB_ICONERROR | MB_OK);
    return false;
}

void CUpdateRun::CatalogueFailed(QueuedTransfer& item, const std::string& errorText) {
    if (!item.TargetPath().empty()) RemoveFile(item.TargetPath());
    SetStatus(FillText(kTextErrorAtServer, {errorText, item.ServerName}));
    Result = Outcome::Failed;
    ShowMessageBox(errorText, std::string(kCaptionSystemNotice), MB_ICONERROR | MB_OK);
    SendResult(0);
    PostQuit();
}

void CUpdateRun::FileCompleted(QueuedTransfer& item) {
    const CFileEntry& file = *item.Entry;
    if (item.Code != 0) {
        const std::string status =
            FillText(kTextFileFailed, {file.FileName, std::to_string(item.Code)});
        FileFailedWith(status, FillText(kTextNetworkCause, {status}), MB_OK);
        return;
    }
    // The new file replaces the old one atomically, so an existing file needs no deleting first;
    // only a directory standing at the file's place keeps it out.
    if (IsDirectory(file.FullPath)) {
        RemoveFile(UpdateFilePath(file.FullPath));
        const std::string status = FillText(kTextDeleteFailed, {file.FileName});
        FileFailedWith(status, status, MB_ICONERROR | MB_OK);
        return;
    }
    // A file that cannot be put in place is a failed file like any other: the client is not
    // current, so neither "finished" nor the lobby may follow.
    if (!InstallFile(file)) {
        RemoveFile(UpdateFilePath(file.FullPath));
        FileFailedWith(StatusText, StatusText, MB_ICONERROR | MB_OK);
    }
}

void CUpdateRun::FileFailedWith(const std::string& status, const std::string& boxText,
                                uint32_t type) {
    SetStatus(status);
    FileFailed = true;
    Result = Outcome::Failed;
    ShowMessageBox(boxText, std::string(), type);
    PostQuit();
}

}  // namespace toval
