#include "tests/ui/ui_test_app.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <cstdlib>
#include <memory>

namespace toval::test {

namespace {
std::unique_ptr<XvfbSession> Display;
std::unique_ptr<QApplication> Application;
int Argc = 1;
char Name[] = "ui_tests";
char* Argv[] = {Name, nullptr};

// Qt must be gone before the X server it talks to, and both before the program's statics.
class Teardown : public ::testing::Environment {
  public:
    void TearDown() override {
        Application.reset();
        Display.reset();
    }
};
[[maybe_unused]] ::testing::Environment* const kTeardown =
    ::testing::AddGlobalTestEnvironment(new Teardown);
}  // namespace

XvfbSession& TestDisplay() {
    if (!Display) {
        Display = std::make_unique<XvfbSession>(XvfbSession::WithTray);
        if (Display->Running()) setenv("DISPLAY", Display->Display().c_str(), 1);
    }
    return *Display;
}

QApplication* TestApplication() {
    if (Application) return Application.get();
    if (!TestDisplay().Running()) return nullptr;
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // The tray must be the X server's XEmbed tray, never a desktop session's D-Bus one.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/toval-test-bus", 1);
    Application = std::make_unique<QApplication>(Argc, Argv);
    return Application.get();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

MessageBoxCloser::MessageBoxCloser() { startTimer(50); }

void MessageBoxCloser::timerEvent(QTimerEvent*) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible()) continue;
        Closed.push_back({box->windowTitle(), box->text(), static_cast<int>(box->icon())});
        const auto buttons = box->buttons();
        if (!buttons.isEmpty()) buttons.front()->click();
    }
}

}  // namespace toval::test
