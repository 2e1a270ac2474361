#pragma once
// The two front ends that drive the same update run.

#include <cstdint>
#include <optional>
#include <string>

#include "catalog/install_path.h"

namespace toval {

struct StartOptions {
    std::string UpdateUrl;      // the catalogue URL in force
    uint32_t CallerWindow = 0;  // the caller's X11 window id, 0 for none
    // Where the client lives; the system's directories when absent. Tests that open several
    // windows at once give each its own, or they would wait for one another's run lock.
    std::optional<BaseDirectories> Directories{};
};

// Runs the update in the terminal; returns the process exit status (0 finished or current,
// 1 ended by a failure).
int RunConsoleFrontEnd(const StartOptions& options);

// Runs the update with the progress window and tray icon; returns the exit status, or -1 when no
// display can be opened (the caller then falls back to the console).
int RunWindowFrontEnd(const StartOptions& options, int argc, char** argv);

// Shows `text` in an error message box with the application's name as its caption and returns
// once it is closed; false, showing nothing, when no display can be opened.
bool ShowWindowMessageBox(const std::string& text, int argc, char** argv);

}  // namespace toval
