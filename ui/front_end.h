#pragma once
// The two front ends that drive the same update run.

#include <string>

#include "ui/start_options.h"

namespace toval {

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
