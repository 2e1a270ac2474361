// The driver of the run: what happens when a transfer has ended.

#include <sys/stat.h>

#include <cstdio>

#include "engine/CUpdateRun.h"
#include "engine/status_texts.h"

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
    return transfer;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

uint32_t CUpdateRun::OnDownloadComplete(uint32_t wParam, CInetFile* transfer) {
    std::lock_guard guard(WindowLock);
    if (!transfer) return 0;
    const uint32_t code = LowWord(wParam);
    const uint32_t kind = HighWord(wParam);

    if (kind == 1) {
        if (code == 0) {
            CatalogueCompleted(*transfer);
        } else {
            CatalogueFailed(*transfer, transfer->GetErrorText());
        }
    } else {
        FileCompleted(*transfer, code);
    }

    DownloadQueue.Remove(transfer);  // destroys it, joining its worker
    if (kind == 2 && DownloadQueue.Count() == 0 && !FileFailed) {
        SetStatus(std::string(kTextFinished));
        Result = Outcome::Finished;
        LaunchLobby();
        PostQuit();
    }
    if (RunningTransfers > 0) --RunningTransfers;

    // Start the next file now rather than at the next tick, so that a run of many small files
    // is not paced by the timer. Inside a message box's nested loop the outer handler still has
    // work to do, so the next tick starts it instead.
    if (MessageBoxDepth == 0) PumpStep();
    return 0;
}

void CUpdateRun::CatalogueCompleted(CInetFile& transfer) {
    SetStatus(FillText(kTextCatalogueFetched, {transfer.ServerName}));
    const bool loaded = UpdateCatalog.Load(transfer.TargetPath);
    std::remove(transfer.TargetPath.c_str());
    // A catalogue lists every file of the client, so one that lists none is not a catalogue but,
    // say, a well-formed error page. Either way the run ends as a failed download does, rather
    // than stall for good or tell the player that an unknown version is current.
    if (!loaded || UpdateCatalog.Count() == 0) {
        CatalogueFailed(transfer, std::string(kTextCatalogueUnreadable));
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
        DownloadQueue.Push(MakeFileTransfer(*entry, Host, transfer.ServerName).release());
}

void CUpdateRun::CatalogueFailed(CInetFile& transfer, const std::string& errorText) {
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
        SetStatus(status);
        FileFailed = true;
        Result = Outcome::Failed;
        ShowMessageBox(FillText(kTextNetworkCause, {status}), std::string(), MB_OK);
        PostQuit();
        return;
    }
    // The new file replaces the old one atomically, so an existing file needs no deleting first;
    // only a directory standing at the file's place keeps it out.
    if (IsDirectory(transfer.TargetPath)) {
        SetStatus(FillText(kTextDeleteFailed, {transfer.FileName}));
        return;
    }
    InstallFile(transfer);
}

}  // namespace toval
