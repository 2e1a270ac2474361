#include "ui/CUpdateWindow_windows.h"
#include "ui/front_end.h"

#include "platform/wide_text.h"

namespace toval {

int RunWindowFrontEnd(const StartOptions& options, int, char**) {
    CUpdateWindow window(options);
    // No window without a display (Wine without an X server, a service's hidden desktop): the
    // caller runs the same update in the console instead.
    if (!window.Handle()) return -1;
    window.Exec();
    // The status is the run's, as in the console.
    return window.Session().ExitStatus();
}

bool ShowWindowMessageBox(const std::string& text, int, char**) {
    return MessageBoxW(nullptr, Widen(text).c_str(), ApplicationName().c_str(),
                       MB_OK | MB_ICONERROR | MB_SETFOREGROUND) != 0;
}

}  // namespace toval
