// How the native window ends its process under Wine, driven from another process as the player's
// mouse and keyboard and the run itself would end it: a click on the close spot, Esc, and the
// run's own end after its last file each end the process at once, the tray icon gone with it; a
// drag that began on the close spot is no click. Each test prints how long the ending took.

#include "ui/CUpdateWindow_windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "tests/ui_windows/pump_messages.h"

namespace toval {
namespace {

using namespace std::chrono_literals;
using test::PumpUntil;

// What the child process is given: its catalogue's address and where its client lies.
constexpr char kChildUrl[] = "TOVAL_ENDING_CHILD_URL";
constexpr char kChildDirectory[] = "TOVAL_ENDING_CHILD_DIRECTORY";

// Run as a program of its own by the tests below, as the updater runs its window: until the
// window has ended, unless a click on the close spot ends the process first.
TEST(EndingChild, ShowsTheWindowUntilItEnds) {
    const char* url = std::getenv(kChildUrl);
    const char* directory = std::getenv(kChildDirectory);
    if (!url || !directory) GTEST_SKIP() << "runs in a child process";
    const std::string client(directory);
    // The updater's own front end, whose exit status is the one the parent reads.
    const int status = RunWindowFrontEnd(
        StartOptions{
            url, 0, BaseDirectories{client + "/client", client + "/windows", client + "/system32"}},
        0, nullptr);
    std::fflush(nullptr);
    std::_Exit(status);
}

// The updater's window of process `process`, or null.
HWND WindowOfProcess(DWORD process) {
    struct Search {
        DWORD Process;
        HWND Found = nullptr;
    } search{process};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t className[64] = {};
            GetClassNameW(window, className, 64);
            if (owner != s.Process || std::wstring(className) != L"TovalUpdateWindow") return TRUE;
            s.Found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

struct Ending : ::testing::Test {
    ~Ending() override {
        // Ended with status 99 should it outlive its test.
        if (Child.hProcess && WaitForSingleObject(Child.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(Child.hProcess, 99);
        if (Child.hThread) CloseHandle(Child.hThread);
        if (Child.hProcess) CloseHandle(Child.hProcess);
    }

    // Starts the child on /update.xml and waits until its window is up and its run has asked
    // for the catalogue.
    void StartChild() {
        wchar_t program[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, program, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(program) +
                               L"\" --gtest_filter=EndingChild.ShowsTheWindowUntilItEnds";
        SetEnvironmentVariableA(kChildUrl, Server.Url("/update.xml").c_str());
        SetEnvironmentVariableA(kChildDirectory, Client.Path().c_str());
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                                            nullptr, nullptr, &startup, &Child);
        SetEnvironmentVariableA(kChildUrl, nullptr);
        SetEnvironmentVariableA(kChildDirectory, nullptr);
        ASSERT_TRUE(started);
        ASSERT_TRUE(PumpUntil(
            [&] {
                Window = WindowOfProcess(Child.dwProcessId);
                return Window && !Server.Requests().empty();
            },
            60s));
    }

    // Sent rather than posted: each returns once the window has handled it, whatever the
    // system's own move loop, which a drag starts, does with posted input.
    void Send(UINT message, WPARAM wParam, LPARAM lParam) {
        SendMessageTimeoutW(Window, message, wParam, lParam, SMTO_NORMAL, 10'000, nullptr);
    }

    // Whether the shell knows the child's tray icon.
    bool IconShown() {
        NOTIFYICONDATAW probe{};
        probe.cbSize = NOTIFYICONDATAW_V1_SIZE;
        probe.hWnd = Window;
        return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
    }

    // Ends the child's window with `end` and expects the process gone at once, with `status`
    // (1: stopped before the run ended) and its tray icon with it, though it did not wait to
    // hear so; prints how long it took.
    void ExpectEndedAtOnceBy(const char* what, const std::function<void()>& end,
                             DWORD expected = 1) {
        EXPECT_TRUE(IconShown());
        const auto begun = std::chrono::steady_clock::now();
        end();
        const DWORD waited = WaitForSingleObject(Child.hProcess, 60'000);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - begun);
        ASSERT_EQ(waited, WAIT_OBJECT_0);
        std::printf("%s ended the process in %lld ms\n", what,
                    static_cast<long long>(took.count()));
        DWORD status = 99;
        GetExitCodeProcess(Child.hProcess, &status);
        EXPECT_EQ(status, expected);
        EXPECT_LT(took, 1s);
        EXPECT_TRUE(PumpUntil([&] { return !IconShown(); }, 10s));
    }

    test::HttpServer Server;
    test::TempDir Client;
    PROCESS_INFORMATION Child{};
    HWND Window = nullptr;
};

TEST_F(Ending, ADragFromTheCloseSpotGoesOnAndAClickOnItEndsTheProcessAtOnce) {
    // A catalogue that never comes: the transfer stays running, and the window stays open.
    Server.Route("/update.xml", test::Response{.StallBeforeHeaders = true});
    ASSERT_NO_FATAL_FAILURE(StartChild());
    // Pressed on the spot, moved along the strip, released where it was pressed, as after a
    // drag the window followed: no click.
    Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(350, 5));
    Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(300, 6));
    Send(WM_LBUTTONUP, 0, MAKELPARAM(350, 5));
    ASSERT_EQ(WaitForSingleObject(Child.hProcess, 300), WAIT_TIMEOUT)
        << "the drag from the close spot ended the process";
    // The player sees the window go with the click.
    Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(350, 5));
    ExpectEndedAtOnceBy("a click on the close spot",
                        [&] { Send(WM_LBUTTONUP, 0, MAKELPARAM(350, 5)); });
}

TEST_F(Ending, EscAsTheKeyboardPostsItEndsTheProcessAtOnce) {
    Server.Route("/update.xml", test::Response{.StallBeforeHeaders = true});
    ASSERT_NO_FATAL_FAILURE(StartChild());
    ExpectEndedAtOnceBy("Esc", [&] { PostMessageW(Window, WM_KEYDOWN, VK_ESCAPE, 0); });
}

// As a launcher closes the updater: the window's loop, waiting for a posted message, must not
// go on waiting once the window has gone in a sent one.
TEST_F(Ending, TheCloseCommandSentByAnotherProgramEndsTheProcessAtOnce) {
    Server.Route("/update.xml", test::Response{.StallBeforeHeaders = true});
    ASSERT_NO_FATAL_FAILURE(StartChild());
    ExpectEndedAtOnceBy("WM_CLOSE", [&] { Send(WM_CLOSE, 0, 0); });
}

TEST_F(Ending, TheRunsOwnEndAfterItsLastFileEndsTheProcessAtOnce) {
    const std::string xml =
        "<?xml version=\"1.0\"?>\n<xmlRoot><File><FileName>a.dat</FileName>"
        "<Length>4</Length><URL>" +
        Server.Url("/files/a.dat") + "</URL></File></xmlRoot>";
    // Held until the window is up, so that the whole run is timed, from the catalogue's answer.
    Server.Route("/update.xml", test::Response{.Body = xml, .StallBeforeHeaders = true});
    Server.Route("/files/a.dat", test::Response{.Body = "aaaa"});
    ASSERT_NO_FATAL_FAILURE(StartChild());
    ExpectEndedAtOnceBy(
        "the run's end", [&] { Server.ReleaseStalls(); }, 0);
    // It was the run's normal end, after the update.
    EXPECT_EQ(test::ReadFile(Client.Path() + "/client/a.dat"), "aaaa");
}

}  // namespace
}  // namespace toval
