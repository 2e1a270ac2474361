// The window in a program of its own, driven by the X server's real pointer on a display of its
// own, under a real window manager (openbox) and under none: drags through the strip, the refused
// minimise, the close spot.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <thread>

#include "tests/support/HttpServer.h"
#include "tests/support/Openbox.h"
#include "tests/support/TempDir.h"
#include "tests/support/XvfbSession.h"
#include "tests/ui/x11_probe.h"

namespace toval::test {
void PrintTo(const ScreenPoint& p, std::ostream* os) { *os << "(" << p.X << ", " << p.Y << ")"; }
}  // namespace toval::test

namespace toval {
namespace {

using namespace std::chrono_literals;
using test::ScreenPoint;

// Where the window is once nothing has moved it for a while: a manager frames a new window, and
// the window fits itself into the frame, some time after it first shows.
std::optional<ScreenPoint> SettledOrigin(const std::string& display, xcb_window_t window) {
    std::optional<ScreenPoint> last = test::Origin(display, window);
    int stillFor = 0;
    for (int i = 0; i < 200 && stillFor < 8; ++i) {
        std::this_thread::sleep_for(50ms);
        const auto now = test::Origin(display, window);
        stillFor = now == last ? stillFor + 1 : 0;
        last = now;
    }
    return stillFor >= 8 ? last : std::nullopt;
}

enum class Manager { None, Openbox };
void PrintTo(Manager m, std::ostream* os) { *os << (m == Manager::Openbox ? "openbox" : "none"); }

class RealPointerWindowTest : public ::testing::TestWithParam<Manager> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Display.Running()) << Display.Failure();
        if (GetParam() == Manager::Openbox) {
            Wm = std::make_unique<test::Openbox>(Display.Display());
            ASSERT_TRUE(Wm->Running()) << Wm->Failure();
        }
        setenv("WINEPREFIX", Wine.Path().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        // The tray must be the X server's XEmbed tray, never a desktop session's D-Bus one.
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/toval-test-bus", 1);
    }
    void TearDown() override {
        test::StopProcess(Child);
        Server.ReleaseStalls();
    }
    // Starts the program, a copy of its own whose run lock no other test shares, and waits for
    // its window.
    bool Start() {
        Server.Route("/update.xml", test::Response{.StallBeforeHeaders = true});
        const std::string program = Wine.Path() + "/toval-updater";
        std::filesystem::copy_file(std::string(TOVAL_BIN_DIR) + "/toval-updater", program);
        const std::string arguments = Server.Url("/update.xml") + ",0";
        const char* argv[] = {program.c_str(), arguments.c_str(), nullptr};
        Child = test::SpawnOnDisplay(X(), argv);
        return Child > 0 && test::WaitFor([&] {
                   Window = test::FindTopLevel(X(), "自动升级-正在下载文件");
                   return Window != 0 && test::ShownNormally(X(), Window);
               });
    }
    // The window lies off screen by design, and goes back there when its frame changes, out of
    // the pointer's reach; this brings it on screen once it has settled.
    std::optional<ScreenPoint> OnScreen() {
        if (!SettledOrigin(X(), Window) || !test::MoveWindow(X(), Window, {300, 300})) {
            return std::nullopt;
        }
        return SettledOrigin(X(), Window);
    }
    const std::string& X() const { return Display.Display(); }
    std::optional<ScreenPoint> Origin() const { return test::Origin(X(), Window); }

    test::XvfbSession Display{test::XvfbSession::WithTray};
    std::unique_ptr<test::Openbox> Wm;
    test::TempDir Wine;
    test::HttpServer Server;
    pid_t Child = -1;
    xcb_window_t Window = 0;
};

TEST_P(RealPointerWindowTest, DragsFollowTheStripRulesMinimiseIsRefusedACloseSpotClickExits) {
    ASSERT_TRUE(Start());
    const std::optional<ScreenPoint> start = OnScreen();
    ASSERT_TRUE(start);
    ASSERT_LT(start->X, 1280 - 420);
    test::RealPointer pointer(X());
    ASSERT_TRUE(pointer.Ok());

    // A press in the strip carries the window while the button is held, and not a step further.
    const ScreenPoint grip = *start + ScreenPoint{50, 6};
    const ScreenPoint shift{120, 90};
    const ScreenPoint dropped = *start + shift;
    pointer.MoveTo(grip);
    pointer.Press();
    pointer.MoveTo(grip + shift, 10);
    EXPECT_TRUE(test::WaitFor([&] { return Origin() == dropped; }, 5s))
        << ::testing::PrintToString(Origin());
    pointer.Release();
    std::this_thread::sleep_for(200ms);
    pointer.MoveTo(grip + shift + ScreenPoint{150, 100}, 10);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(Origin(), dropped);

    // A press below the strip drags from the moment the held pointer reaches the strip. The
    // pause lets the window take the step into the strip on its own, where the move begins.
    const ScreenPoint below = dropped + ScreenPoint{100, 40};
    const ScreenPoint inStrip = dropped + ScreenPoint{100, 6};
    const ScreenPoint moved = dropped + ScreenPoint{-60, 50};
    pointer.MoveTo(below);
    pointer.Press();
    pointer.MoveTo(inStrip);
    std::this_thread::sleep_for(200ms);
    pointer.MoveTo(inStrip + ScreenPoint{-60, 50}, 6);
    EXPECT_TRUE(test::WaitFor([&] { return Origin() == moved; }, 5s))
        << ::testing::PrintToString(Origin());
    pointer.Release();

    // A drag by the close spot is no click: the window moves, and the release, which lands on
    // the spot again since the window followed, leaves the update running.
    const std::optional<ScreenPoint> before = Origin();
    ASSERT_TRUE(before);
    const ScreenPoint spot = *before + ScreenPoint{350, 5};
    const ScreenPoint carried = *before + ScreenPoint{-80, 30};
    pointer.MoveTo(spot);
    pointer.Press();
    pointer.MoveTo(spot + ScreenPoint{-80, 30}, 8);
    EXPECT_TRUE(test::WaitFor([&] { return Origin() == carried; }, 5s))
        << ::testing::PrintToString(Origin());
    pointer.Release();
    std::this_thread::sleep_for(500ms);
    int status = -1;
    ASSERT_EQ(waitpid(Child, &status, WNOHANG), 0)
        << "the drag by the close spot ended the updater";

    // Only a manager minimises a window at another program's request.
    if (GetParam() == Manager::Openbox) {
        test::UnmapWatch unmaps(X(), Window);
        ASSERT_TRUE(test::RequestIconify(X(), Window));
        EXPECT_TRUE(unmaps.Seen(5s)) << "the manager never minimised the window";
        EXPECT_TRUE(test::WaitFor([&] { return test::ShownNormally(X(), Window); }, 5s));
    }

    const std::optional<ScreenPoint> at = OnScreen();
    ASSERT_TRUE(at);
    pointer.MoveTo(*at + ScreenPoint{350, 5});
    pointer.Press();
    pointer.Release();
    ASSERT_TRUE(test::WaitFor([&] { return waitpid(Child, &status, WNOHANG) == Child; }));
    Child = -1;
    // Stopped mid-run by the player.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

INSTANTIATE_TEST_SUITE_P(, RealPointerWindowTest,
                         ::testing::Values(Manager::None, Manager::Openbox), [](const auto& info) {
                             return info.param == Manager::Openbox ? "UnderOpenbox"
                                                                   : "WithoutWindowManager";
                         });

}  // namespace
}  // namespace toval
