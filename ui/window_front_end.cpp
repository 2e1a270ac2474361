#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <string_view>

#include "platform/xcb_connection.h"
#include "ui/CUpdateDialog.h"
#include "ui/front_end.h"

#if defined(__SANITIZE_ADDRESS__)
// Sanitizer builds only: Qt's D-Bus thread leaves a libdbus read buffer behind at exit, which
// LeakSanitizer would report as ours. The hook must live where the window is linked in.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
#endif

namespace toval {

namespace {
// Qt aborts the process when its platform cannot start, so we look first. Platforms that need
// no display are trusted; every other one (xcb, the default here) needs a reachable X server.
bool WindowCanStart() {
    std::string_view platform;
    if (const char* env = std::getenv("QT_QPA_PLATFORM")) platform = env;
    const std::string_view name = platform.substr(0, platform.find(':'));
    if (name == "offscreen" || name == "minimal") return true;
    return CanOpenDisplay();
}

// Qt sees the program's name alone: our arguments are the catalogue URL and the caller, and one
// that looked like a Qt option ("-platform", "-display") would otherwise be taken as one, and a
// bad value for it aborts the process.
struct QtArguments {
    QtArguments(int argc, char** argv) {
        static char fallbackName[] = "toval-updater";
        Values[0] = argc > 0 && argv[0] ? argv[0] : fallbackName;
    }
    int Count = 1;
    char* Values[2] = {nullptr, nullptr};
};
}  // namespace

int RunWindowFrontEnd(const StartOptions& options, int argc, char** argv) {
    if (!WindowCanStart()) return -1;
    QtArguments args(argc, argv);
    QApplication app(args.Count, args.Values);
    QCoreApplication::setOrganizationName(QStringLiteral("Toval游戏"));
    CUpdateDialog dialog(options);
    // The modal result does not matter: the status is the run's, as in the console.
    dialog.exec();
    return dialog.Session().ExitStatus();
}

}  // namespace toval

namespace toval {

bool ShowWindowMessageBox(const std::string& text, int argc, char** argv) {
    if (!WindowCanStart()) return false;
    QtArguments args(argc, argv);
    QApplication app(args.Count, args.Values);
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
    return true;
}

}  // namespace toval
