// The window on a real X server with a real tray: placement, title, tray icon, the caller's
// result message, outside commands, message boxes, the ways the window ends.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>

#include "platform/caller_message.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "tests/ui/ui_test_app.h"
#include "tests/ui/x11_probe.h"
#include "ui/CUpdateDialog.h"
#include "ui/front_end.h"
#include "ui/window_texts.h"

namespace toval {
namespace {

using test::HttpServer;
using test::Response;
using test::WaitUntil;
using namespace std::chrono_literals;

const QString kTitle = QStringLiteral("自动升级-正在下载文件");

std::string Display() { return test::TestDisplay().Display(); }

// A catalogue of missing files under the Wine system directory (WINEPREFIX points into a
// temporary directory), each served from `server` at /files/NAME.
std::string Catalogue(const HttpServer& server, const std::vector<std::string>& names) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xmlRoot><Product>\n";
    for (const auto& name : names) {
        xml += "<File><FileName>" + name +
               "</FileName><Length>4</Length>"
               "<InstallDir>SYSTEMDIR</InstallDir><LocalPath>toval</LocalPath><URL>" +
               server.Url("/files/" + name) + "</URL></File>\n";
    }
    return xml + "</Product></xmlRoot>\n";
}

// Sets an environment variable, and restores it (or its absence) when it goes out of scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : Name(name) {
        if (const char* old = std::getenv(name)) Old = old;
        setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (Old) {
            setenv(Name, Old->c_str(), 1);
        } else {
            unsetenv(Name);
        }
    }

  private:
    const char* Name;
    std::optional<std::string> Old;
};

struct WindowTest : ::testing::Test {
    void SetUp() override {
        REQUIRE_TEST_APPLICATION();
        setenv("WINEPREFIX", Wine.Path().c_str(), 1);
    }
    // Each test's run has a client directory of its own, so parallel tests never share a lock.
    StartOptions Options(const std::string& path, uint32_t caller = 0) {
        return StartOptions{Server.Url(path), caller,
                            BaseDirectories{Wine.Path() + "/client", Wine.Path() + "/w",
                                            Wine.Path() + "/drive_c/windows/system32"}};
    }
    std::unique_ptr<CUpdateDialog> Open(const std::string& path, uint32_t caller = 0) {
        auto dialog = std::make_unique<CUpdateDialog>(Options(path, caller));
        dialog->open();
        return dialog;
    }
    test::TempDir Wine;
    HttpServer Server;
};

TEST_F(WindowTest, OpensOffScreenWithItsTitleAndTrayIconAndRefusesToMinimise) {
    Server.Route("/update.xml", Response{.StallBeforeHeaders = true});
    auto dialog = Open("/update.xml");
    ASSERT_TRUE(WaitUntil(
        [&] { return dialog->isVisible() && dialog->frameGeometry().size() == QSize(420, 250); }));
    EXPECT_EQ(dialog->windowTitle(), kTitle);
    EXPECT_EQ(dialog->frameGeometry().topLeft(), QPoint(10000, 0));
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(test::FindTopLevel(Display(), kTitle.toStdString()), dialog->winId());
    // A transient window gets no taskbar button.
    EXPECT_FALSE(test::HasWindowProperty(Display(), dialog->winId(), "WM_TRANSIENT_FOR"));
    EXPECT_TRUE(WaitUntil([] { return test::DockedTrayIcons(Display()) == 1; }));

    dialog->showMinimized();
    EXPECT_TRUE(WaitUntil([&] { return !dialog->isMinimized() && dialog->isVisible(); }));
    Server.ReleaseStalls();
}

TEST_F(WindowTest, TheStandardCommandsEndTheWindowAndTakeTheTrayIconAway) {
    Server.Route("/update.xml", Response{.StallBeforeHeaders = true});
    const std::pair<const char*, std::function<void(CUpdateDialog&)>> ways[] = {
        {"Esc",
         [](CUpdateDialog& d) {
             QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QCoreApplication::sendEvent(&d, &key);
         }},
        {"Enter",
         [](CUpdateDialog& d) {
             QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
             QCoreApplication::sendEvent(&d, &key);
         }},
        {"keypad Enter",
         [](CUpdateDialog& d) {
             QKeyEvent key(QEvent::KeyPress, Qt::Key_Enter, Qt::KeypadModifier);
             QCoreApplication::sendEvent(&d, &key);
         }},
        {"close", [](CUpdateDialog& d) { d.close(); }},
    };
    for (const auto& [name, end] : ways) {
        SCOPED_TRACE(name);
        auto dialog = Open("/update.xml");
        ASSERT_TRUE(WaitUntil([] { return test::DockedTrayIcons(Display()) == 1; }));
        end(*dialog);
        EXPECT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }));
        EXPECT_TRUE(WaitUntil([] { return test::DockedTrayIcons(Display()) == 0; }));
        // Destroying the window cancels and joins the transfer still waiting for its answer.
        dialog.reset();
    }
    Server.ReleaseStalls();
}

TEST_F(WindowTest, TrayIconTurnsOneFramePerHandledNotification) {
    Server.Route("/update.xml", Response{.StallBeforeHeaders = true});
    auto dialog = Open("/update.xml");
    ASSERT_TRUE(WaitUntil([&] { return dialog->Run().ShownTransfer() != nullptr; }));
    ITransfer* catalogue = dialog->Run().ShownTransfer();

    auto shows = [&](int id) {
        const QImage expected =
            QIcon(QStringLiteral(":/toval/tray_%1.png").arg(id)).pixmap(32).toImage();
        return dialog->Tray().Icon().icon().pixmap(32).toImage() == expected;
    };
    EXPECT_TRUE(shows(130));
    int frame = dialog->Tray().Frame();
    // The path a worker takes: a posted notification, handled on the window's thread.
    for (int id : {131, 132, 130, 131}) {
        dialog->Session().Post(WM_DOWNLOAD_PROGRESS, MakeNotifyParam(1, 0), catalogue);
        ASSERT_TRUE(WaitUntil([&] { return dialog->Tray().Frame() != frame; }));
        frame = dialog->Tray().Frame();
        EXPECT_TRUE(shows(id)) << id;
    }
    // A notification without a transfer changes nothing; the one after it still turns.
    dialog->Session().Post(WM_DOWNLOAD_PROGRESS, MakeNotifyParam(1, 0), nullptr);
    dialog->Session().Post(WM_DOWNLOAD_PROGRESS, MakeNotifyParam(1, 0), catalogue);
    ASSERT_TRUE(WaitUntil([&] { return dialog->Tray().Frame() != frame; }));
    EXPECT_TRUE(shows(132));
    EXPECT_EQ(dialog->Tray().Icon().toolTip().toStdString(), kTrayTipIdle);
    Server.ReleaseStalls();
}

TEST_F(WindowTest, CallerHearsTheCountAndCommand1005QueuesAnotherCatalogue) {
    test::MessageWindow caller(Display());
    ASSERT_NE(caller.Id(), 0u);
    Server.Route("/update.xml", Response{.Body = Catalogue(Server, {"a.dat", "b.dat"})});
    Server.Route("/files/a.dat", Response{.Body = "aaaa", .StallBeforeHeaders = true});
    Server.Route("/files/b.dat", Response{.Body = "bbbb"});
    test::MessageBoxCloser boxes;
    auto dialog = Open("/update.xml", caller.Id());

    std::optional<std::array<uint32_t, 5>> result;
    ASSERT_TRUE(
        WaitUntil([&] { return (result = caller.Next("WM_UPDATE_RESULT", 0ms)).has_value(); }));
    EXPECT_EQ((*result)[0], 2u);
    EXPECT_EQ((*result)[1], dialog->winId());

    // a.dat is stalled at the front. Neither 1004 nor 1005 changes anything: another catalogue
    // behind b.dat would end the update half way with a second result.
    ASSERT_TRUE(WaitUntil([&] { return dialog->Run().QueuedCount() == 2; }));
    ASSERT_TRUE(test::SendCommand(Display(), dialog->winId(), 1004));
    ASSERT_TRUE(test::SendCommand(Display(), dialog->winId(), 1005));
    Server.ReleaseStalls();
    EXPECT_TRUE(WaitUntil([&] { return dialog->result() == 0 && !dialog->isVisible(); }));
    int catalogueRequests = 0;
    for (const auto& r : Server.Requests()) catalogueRequests += r.Target == "/update.xml";
    EXPECT_EQ(catalogueRequests, 1);
    EXPECT_FALSE(caller.Next("WM_UPDATE_RESULT", 300ms).has_value());
    EXPECT_EQ(test::ReadFile(Wine.Path() + "/drive_c/windows/system32/toval/b.dat"), "bbbb");
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(WindowTest, FailureShowsItsMessageBoxAndTheRunEndsTheWindow) {
    Server.Route("/update.xml", Response{.Status = 404, .Body = "gone"});
    test::MessageBoxCloser boxes;
    CUpdateDialog dialog(Options("/update.xml"));
    QTimer::singleShot(60s, &dialog, [&] { dialog.reject(); });  // never hang the suite
    dialog.exec();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].Title, QStringLiteral("系统提示"));
    EXPECT_EQ(boxes.Boxes()[0].Icon, QMessageBox::Critical);
    EXPECT_FALSE(boxes.Boxes()[0].Text.isEmpty());
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_TRUE(WaitUntil([] { return test::DockedTrayIcons(Display()) == 0; }));
}

// The window's exit status is the console's: a launcher tells "current", "updated" and "failed"
// apart by it, whatever boxes the player saw.
TEST_F(WindowTest, TheExitStatusTellsCurrentFromFailed) {
    struct Case {
        const char* Name;
        std::string Catalogue;  // served at /update.xml; none: 404
        bool Keys;              // a trusted key beside the program: the catalogue must be signed
        int Status;
    };
    const std::string listing =
        "<?xml version=\"1.0\"?><xmlRoot><File><FileName>a.dat</FileName>"
        "<Length>4</Length><URL>" +
        Server.Url("/missing/a.dat") + "</URL></File></xmlRoot>";
    const Case cases[] = {
        {"current", listing, false, 0},
        {"a failed file", listing, false, 1},
        {"a refused catalogue", listing, true, 1},
    };
    Server.Route("/missing/a.dat", Response{.Status = 404, .Body = "gone"});
    Server.Route("/update.xml.minisig", Response{.Status = 404, .Body = "gone"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TempDir client;
        if (c.Status == 0) client.Write("client/a.dat", "aaaa");
        if (c.Keys) {
            client.Write("client/toval-updater.pub",
                         "untrusted comment: a "
                         "key\nRWQBAQEBAQEBAQICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgIC\n");
        }
        Server.Route("/update.xml", Response{.Body = c.Catalogue});
        test::MessageBoxCloser boxes;
        CUpdateDialog dialog(
            StartOptions{Server.Url("/update.xml"), 0,
                         BaseDirectories{client / "client", client / "w", client / "s"}});
        QTimer::singleShot(60s, &dialog, [&] { dialog.reject(); });  // never hang the suite
        dialog.exec();
        EXPECT_EQ(boxes.Boxes().size(), c.Status == 0 ? 0u : 1u);
        EXPECT_EQ(dialog.Session().ExitStatus(), c.Status);
    }
}

// Stopped by the player before it ended: the client is not known to be current, which the
// status tells the launcher.
TEST_F(WindowTest, ReleaseOnTheCloseSpotEndsTheProcessAtOnceAsAStoppedRun) {
    Server.Route("/update.xml", Response{.StallBeforeHeaders = true});
    // A copy of its own, whose run lock no other test shares.
    const std::string program = Wine.Path() + "/toval-updater";
    std::filesystem::copy_file(std::string(TOVAL_BIN_DIR) + "/toval-updater", program);
    const std::string arguments = Server.Url("/update.xml") + ",0";
    const char* argv[] = {program.c_str(), arguments.c_str(), nullptr};
    // Its temporary catalogue goes to a directory of its own, to be seen going.
    const std::string tmp = Wine.Path() + "/tmp";
    std::filesystem::create_directories(tmp);
    // Unset again afterwards when it was unset: an empty one would send the temporary files of
    // the tests after this one, in this process, nowhere.
    const pid_t child = [&] {
        ScopedEnv tmpdir("TMPDIR", tmp.c_str());
        return test::SpawnOnDisplay(Display(), argv);
    }();
    ASSERT_GT(child, 0);
    // Qt may keep its runtime directory there too; the catalogue is the "Xml" file.
    const auto catalogues = [&] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(tmp))
            n += e.path().filename().string().rfind("Xml", 0) == 0;
        return n;
    };
    ASSERT_TRUE(WaitUntil([&] { return catalogues() == 1; }));

    xcb_window_t window = 0;
    ASSERT_TRUE(WaitUntil([&] {
        window = test::FindTopLevel(Display(), kTitle.toStdString());
        return window != 0 && test::DockedTrayIcons(Display()) == 1;
    }));
    ASSERT_TRUE(test::SendClick(Display(), window, 350, 5));
    int status = -1;
    const bool ended = WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; });
    if (!ended) test::StopProcess(child);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(catalogues(), 0);
    EXPECT_TRUE(WaitUntil([] { return test::DockedTrayIcons(Display()) == 0; }));
    Server.ReleaseStalls();
}

TEST_F(WindowTest, PaintsTheRunsFiguresAndCanSaveAScreenshot) {
    Server.Route("/update.xml", Response{.StallBeforeHeaders = true});
    auto dialog = Open("/update.xml");
    dialog->FreezeFigures({.StatusText = "maps.pak",
                           .FilePercent = 62,
                           .TotalPercent = 38,
                           .KilobytesPerSecond = 1'499'136 / 1024,
                           .FilePosition = 1,
                           .FileCount = 12});
    const QImage shot = dialog->grab().toImage();
    const QImage bar = QImage(QStringLiteral(":/toval/bar_141.png"));
    const int fileBar = ProgressFigures::BarWidth(62);
    EXPECT_EQ(shot.pixel(12 + fileBar - 1, 110), bar.pixel(fileBar - 1, 6));
    EXPECT_NE(shot.pixel(12 + fileBar, 110), bar.pixel(fileBar, 6));
    if (const char* path = std::getenv("TOVAL_WINDOW_SCREENSHOT")) {
        EXPECT_TRUE(shot.save(QString::fromLocal8Bit(path)));
    }
    Server.ReleaseStalls();
}

}  // namespace
}  // namespace toval

namespace toval {
namespace {

TEST(WindowStart, WithoutAReachableDisplayTheWindowStepsAsideForTheConsole) {
    ScopedEnv platform("QT_QPA_PLATFORM", "xcb");
    char name[] = "toval-updater";
    char* argv[] = {name, nullptr};
    for (const char* display : {"", ":4093", "nonsense"}) {
        SCOPED_TRACE(display);
        ScopedEnv env("DISPLAY", display);
        EXPECT_EQ(RunWindowFrontEnd(StartOptions{"http://127.0.0.1:9/update.xml", 0}, 1, argv), -1);
    }
}

TEST(CallerMessage, RefusesTheSpecialDestinationsAndWindowsThatDoNotExist) {
    REQUIRE_TEST_APPLICATION();
    test::MessageWindow caller(test::TestDisplay().Display());
    // 0 and 1 would reach the window under the pointer or the focus window instead.
    EXPECT_FALSE(SendUpdateResultMessage(0, 3, 77));
    EXPECT_FALSE(SendUpdateResultMessage(1, 3, 77));
    EXPECT_FALSE(SendUpdateResultMessage(caller.Id() + 0x1000, 3, 77));
    ASSERT_TRUE(SendUpdateResultMessage(caller.Id(), 3, 77));
    const auto data = caller.Next("WM_UPDATE_RESULT", std::chrono::seconds(5));
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ((*data)[0], 3u);
    EXPECT_EQ((*data)[1], 77u);
    ScopedEnv none("DISPLAY", "");
    EXPECT_FALSE(SendUpdateResultMessage(caller.Id(), 3, 77));
}

}  // namespace
}  // namespace toval
