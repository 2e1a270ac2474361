#include "app/CUpdaterApp.h"

#include <cstdio>

#include "app/command_line.h"
#include "catalog/xml_startup.h"
#include "platform/directories.h"
#include "platform/line_channel.h"
#include "platform/system_directories.h"
#include "platform/termination.h"
#include "ui/front_end.h"

namespace toval {

bool CUpdaterApp::InitInstance() {
    WatchTerminationSignals();
    if (!StartNetwork()) return false;
    // Without the code page 936 converter a catalogue declared GB2312 cannot be read; the run
    // then reports it as an unreadable catalogue, so start-up goes on.
    InitXmlParser();
    return true;
}

void CUpdaterApp::ExitInstance() { Network.reset(); }

int CUpdaterApp::Run(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(argc, argv);
    // Files go beside the program: started from where the system keeps its programs (a package
    // installed it there, say) it would fill that directory with a client and replace whatever
    // program a catalogue names. Nothing is touched, not even the run lock.
    const std::string programDir = ProgramDirectory();
    if (IsSystemProgramDirectory(programDir)) {
        std::fprintf(stderr,
                     "toval-updater: %s is a system program directory, not a game client's; copy "
                     "toval-updater into the client's directory and run it there\n",
                     programDir.c_str());
        return kExitUsage;
    }
    std::shared_ptr<LineChannel> progress;
    if (line.ProgressFd) {
        progress = OpenLineChannel(*line.ProgressFd);
        if (!progress) {
            std::fprintf(stderr,
                         "toval-updater: --progress-fd %llu: nothing open there to write to\n",
                         static_cast<unsigned long long>(*line.ProgressFd));
            return kExitUsage;
        }
    }
    if (!InitInstance()) {
        // Nothing can be updated without the network: the player is told, and the caller sees
        // a failure rather than a run that found nothing to do.
        if (line.Console || !ShowWindowMessageBox(kSocketStartupFailed, argc, argv))
            std::fprintf(stderr, "toval-updater: %s\n", kSocketStartupFailed);
        return 1;
    }
    StartOptions options;
    options.UpdateUrl = line.UpdateUrl;
    options.CallerWindow = line.CallerWindow;
    options.Progress = std::move(progress);
    options.MaxRate = line.MaxRate;
    options.Verify = line.Verify;
    options.ProgramVersion = kVersionText;

    int status = -1;
    if (!line.Console) status = RunWindowFrontEnd(options, argc, argv);
    if (status == -1) {
        // The terminal's user learns why the default catalogue is fetched instead of theirs.
        std::fputs(IgnoredArgumentNote(line).c_str(), stderr);
        status = RunConsoleFrontEnd(options);
    }
    ExitInstance();
    return status;
}

}  // namespace toval
