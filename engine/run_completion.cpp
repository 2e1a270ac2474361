// The driver of the run: what happens when a transfer has ended.

#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <vector>

#include "engine/CUpdateRun.h"
#include "engine/kept_catalogue.h"
#include "engine/status_texts.h"
#include "net/update_path.h"
#include "platform/disk_space.h"
#include "platform/file_read.h"

namespace toval {

namespace {

// A file transfer built from one catalogue entry; the entry's other fields are not carried.
std::unique_ptr<CInetFile> MakeFileTransfer(const CFileEntry& entry, IMessageSink& sink,
                                            const std::string& serverName) {
    auto transfer = std::make_unique<CInetFile>();
    transfer->Kind = 2;
    transfer->StatusCallback = true;
    transfer->NotifyWindow = &sink;
    transfer->URL = entry.URL;
    transfer->TargetPath = entry.FullPath;
    transfer->FileName = entry.FileName;
    transfer->ExpectedLength = entry.Length;
    transfer->ServerName = serverName;
    transfer->Register = entry.Register;
    transfer->ZipFile = entry.ZipFile;
    transfer->ForceOverwrite = entry.ForceOverwrite;
    transfer->Execute = entry.Execute;
    transfer->ExecutePar = entry.ExecutePar;
    transfer->Sha256 = entry.Sha256;
    return transfer;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

uint64_t Kilobytes(uint64_t bytes) { return bytes >> 10; }

}  // namespace

uint32_t CUpdateRun::OnDownloadComplete(uint32_t wParam, CInetFile* transfer) {
    CheckThread();
    if (!transfer || !DownloadQueue.Contains(transfer)) return 0;
    const uint32_t code = LowWord(wParam);
    const uint32_t kind = HighWord(wParam);
    if (RunningTransfers > 0) --RunningTransfers;
    if (Active == transfer) Active = nullptr;

    if (transfer == SignatureFetch) {
        SignatureCompleted(*transfer, code);
        DownloadQueue.Remove(transfer);
    } else if (kind == 1) {
        if (code == 0) {
            CatalogueCompleted(*transfer);
        } else {
            CatalogueFailed(*transfer, transfer->GetErrorText());
        }
        DownloadQueue.Remove(transfer);  // destroys it, joining its worker
    } else {
        Held.push_back({transfer, code, transfer == ShownAtStart});
        HeldBytes += transfer->Received.load();
        // A file that fails, or that will not install, ends the batch before anything later
        // is fetched.
        if (code != 0 || IsDirectory(transfer->TargetPath) || !DownloadQueue.After(transfer) ||
            Held.size() >= kInstallBatchFiles || HeldBytes >= kInstallBatchBytes)
            InstallHeld();
        if (DownloadQueue.Count() == 0 && !FileFailed && !QuitPosted) {
            SetStatus(std::string(kTextFinished));
            Result = Outcome::Finished;
            SyncInstalledDirectories();  // the lobby must find the new files, even after a crash
            LaunchLobby();
            PostQuit();
        }
    }

    // Start the next file now rather than at the next tick, so that a run of many small files
    // is not paced by the timer. Inside a message box's nested loop the outer handler still has
    // work to do, so the next tick starts it instead.
    if (MessageBoxDepth == 0) PumpStep();
    return 0;
}

void CUpdateRun::InstallHeld() {
    std::vector<HeldTransfer> batch;
    batch.swap(Held);
    HeldBytes = 0;
    std::vector<std::string> downloads;
    for (const HeldTransfer& h : batch)
        if (h.Code == 0) downloads.push_back(UpdateFilePath(h.Transfer->TargetPath));
    // The data must be on the disk before a rename can make it the player's file: after a
    // power loss a renamed file could otherwise be empty.
    const bool synced = downloads.empty() || SyncFileSystemsOf(downloads);
    for (const HeldTransfer& h : batch) {
        if (FileFailed) {
            std::remove(UpdateFilePath(h.Transfer->TargetPath).c_str());
        } else {
            if (!h.StatusShown) SetStatus(FillText("%s", {h.Transfer->FileName}));
            const uint32_t code =
                h.Code == 0 && !synced ? static_cast<uint32_t>(kResultLocalFile) : h.Code;
            if (code != h.Code) std::remove(UpdateFilePath(h.Transfer->TargetPath).c_str());
            FileCompleted(*h.Transfer, code);
        }
        DownloadQueue.Remove(h.Transfer);
    }
}

void CUpdateRun::CatalogueCompleted(CInetFile& transfer) {
    // A 304 answer: the copy kept from an earlier launch is current, and is checked as if it had
    // just arrived.
    const std::string stateDir = StateDir();
    const std::optional<KeptCatalogue> kept =
        transfer.NotModified ? FindKeptCatalogue(stateDir, transfer.URL) : std::nullopt;
    const std::string source = kept ? kept->Path : transfer.TargetPath;
    if (!transfer.NotModified) SetStatus(FillText(kTextCatalogueFetched, {transfer.ServerName}));
    bool loaded = false;
    std::optional<std::string_view> refusal;
    if (transfer.NotModified && !kept) {
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
    if (loaded && !transfer.NotModified && Lock && Lock->IsHeld())
        KeepCatalogue(stateDir, source, transfer.URL, transfer.ETag, transfer.LastModified);
    std::remove(transfer.TargetPath.c_str());
    if (transfer.NotModified) {
        if (!loaded) {
            // The kept copy fails a check (damaged, or not what the new signature signs: a
            // catalogue republished within the second its validators count). It is dropped and
            // the whole catalogue fetched at once.
            UpdateCatalog.Clear();
            ForgetKeptCatalogue(stateDir);
            if (const CServerEntry* server = ServerList.First()) QueueCatalogue(*server);
            return;
        }
        SetStatus(FillText(kTextCatalogueFetched, {transfer.ServerName}));
    }
    if (!loaded) {
        CatalogueFailed(transfer, std::string(refusal.value_or(kTextCatalogueUnreadable)));
        return;
    }

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
    while (std::unique_ptr<CFileEntry> entry = UpdateCatalog.TakeFirst())
        DownloadQueue.Push(MakeFileTransfer(*entry, Host, transfer.ServerName));
    FitsOnDisk();
}

bool CUpdateRun::FitsOnDisk() {
    std::vector<std::pair<std::string, uint64_t>> files;
    DownloadQueue.ForEach([&](const CInetFile& t) {
        if (t.Kind == 2) files.emplace_back(t.TargetPath, t.ExpectedLength);
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

void CUpdateRun::CatalogueFailed(CInetFile& transfer, const std::string& errorText) {
    if (!transfer.TargetPath.empty()) std::remove(transfer.TargetPath.c_str());
    SetStatus(FillText(kTextErrorAtServer, {errorText, transfer.ServerName}));
    Result = Outcome::Failed;
    ShowMessageBox(errorText, std::string(kCaptionSystemNotice), MB_ICONERROR | MB_OK);
    SendResult(0);
    PostQuit();
}

void CUpdateRun::FileCompleted(CInetFile& transfer, uint32_t code) {
    if (code != 0) {
        const std::string status =
            FillText(kTextFileFailed, {transfer.FileName, std::to_string(code)});
        FileFailedWith(status, FillText(kTextNetworkCause, {status}), MB_OK);
        return;
    }
    // The new file replaces the old one atomically, so an existing file needs no deleting first;
    // only a directory standing at the file's place keeps it out.
    if (IsDirectory(transfer.TargetPath)) {
        std::remove(UpdateFilePath(transfer.TargetPath).c_str());
        const std::string status = FillText(kTextDeleteFailed, {transfer.FileName});
        FileFailedWith(status, status, MB_ICONERROR | MB_OK);
        return;
    }
    // A file that cannot be put in place is a failed file like any other: the client is not
    // current, so neither "finished" nor the lobby may follow.
    if (!InstallFile(transfer)) {
        std::remove(UpdateFilePath(transfer.TargetPath).c_str());
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
