#include "app/CUpdaterApp.h"

#include <curl/curl.h>

#include <csignal>
#include <cstdio>

#include "app/command_line.h"
#include "catalog/xml_startup.h"
#include "ui/front_end.h"

namespace toval {

bool CUpdaterApp::InitInstance() {
    // A reader that goes away (a closed pipe on stdout, a dropped connection) must end a write
    // with an error, not kill the updater half way through replacing a file.
    std::signal(SIGPIPE, SIG_IGN);
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::fprintf(stderr, "toval-updater: %s\n", kSocketStartupFailed);
        return false;
    }
    NetworkStarted = true;
    // Without the code page 936 converter a catalogue declared GB2312 cannot be read; the run
    // then reports it as an unreadable catalogue, so start-up goes on.
    InitXmlParser();
    return true;
}

void CUpdaterApp::ExitInstance() {
    if (NetworkStarted) curl_global_cleanup();
    NetworkStarted = false;
}

int CUpdaterApp::Run(int argc, char** argv) {
    if (!InitInstance()) return 0;
    const CommandLine line = ParseCommandLine(argc, argv);
    StartOptions options;
    options.UpdateUrl = line.UpdateUrl;
    options.CallerWindow = line.CallerWindow;

    int status = -1;
    if (!line.Console) status = RunWindowFrontEnd(options, argc, argv);
    if (status == -1) status = RunConsoleFrontEnd(options);
    ExitInstance();
    return status;
}

}  // namespace toval
