#pragma once
// The update run: from queuing the catalogue transfer to installing the last file. Its handlers
// are called one at a time on the front end's thread; the front end supplies the loop (IRunHost).

#include <cstdint>
#include <mutex>
#include <string>

#include "catalog/CDownloadQueue.h"
#include "catalog/CServerList.h"
#include "catalog/CUpdateCatalog.h"
#include "engine/progress_figures.h"
#include "engine/run_host.h"

namespace toval {

class CUpdateRun {
  public:
    enum class Outcome { Running, Finished, UpToDate, Failed, Stopped };

    explicit CUpdateRun(IRunHost& host);
    CUpdateRun(IRunHost& host, BaseDirectories dirs);
    ~CUpdateRun();

    // Replaces the status line; shown at the next repaint tick. The code is ignored.
    void SetStatus(const std::string& text, uint32_t code = 0);

    // Opens the run. The catalogue always comes from the first server; when the front end has
    // added none, the built-in server with `catalogueUrl` is added first.
    void StartRun(const std::string& catalogueUrl);
    // Queues a catalogue transfer from the first server into a fresh temporary file.
    void Connect();

    // The message handlers.
    void OnTimer(uint32_t id);
    uint32_t OnDownloadComplete(uint32_t wParam, CInetFile* transfer);
    uint32_t OnDownloadProgress(uint32_t wParam, CInetFile* transfer);
    void OnCommand(uint32_t id);
    // Routes one posted message to its handler.
    void Dispatch(uint32_t message, uint32_t wParam, CInetFile* lParam);

    void InstallFile(CInetFile& transfer);
    void LaunchLobby();

    // How the run ended (the console's exit status follows it).
    Outcome RunOutcome() const { return Result; }

    // Run state, read by the front ends when they paint.
    std::string StatusText;
    uint32_t CallerWindow = 0;
    uint32_t FileCount = 0;
    uint64_t TotalBytes = 0;
    uint64_t ReceivedBytes = 0;
    std::recursive_mutex WindowLock;
    ProgressFigures Figures;
    CServerList ServerList;
    CUpdateCatalog UpdateCatalog;
    CDownloadQueue DownloadQueue;  // declared last: destroyed first, joining its transfers
    uint32_t TransferLimit = 5;
    uint32_t RunningTransfers = 0;

  private:
    // Starts the front transfer when it has never been started (the pump's body).
    void PumpStep();
    void PostQuit();
    void SendResult(uint32_t count);
    void ShowMessageBox(const std::string& text, const std::string& caption, uint32_t type);
    void CatalogueCompleted(CInetFile& transfer);
    void CatalogueFailed(CInetFile& transfer, const std::string& errorText);
    void FileCompleted(CInetFile& transfer, uint32_t code);

    IRunHost& Host;
    Outcome Result = Outcome::Running;
    bool QuitPosted = false;
    bool FileFailed = false;  // a file transfer failed: the run must not report "finished"
    int MessageBoxDepth = 0;  // message boxes open on this thread (nested loops)
};

}  // namespace toval
