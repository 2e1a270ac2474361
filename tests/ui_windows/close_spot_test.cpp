// The close spot of the native window under Wine, driven from another process as the player's
// mouse would drive it: a drag that began on it is no click, and a click on it ends the updater's
// process at once, its tray icon gone with it.

#include "ui/CUpdateWindow_windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "tests/ui_windows/pump_messages.h"

namespace toval {
namespace {

using namespace std::chrono_literals;
using test::PumpUntil;

constexpr char kChildVariable[] = "TOVAL_CLOSE_SPOT_CHILD";

// Run as a program of its own by the test below; the variable names the event that tells the
// test the window is up. The child never returns on its own: a click must end the process from
// inside the handler.
TEST(CloseSpot, Child) {
    const char* ready = std::getenv(kChildVariable);
    if (!ready) GTEST_SKIP() << "runs in a child process";
    // A catalogue that never comes: the transfer stays running, and the window stays open.
    test::HttpServer server;
    server.Route("/update.xml", test::Response{.StallBeforeHeaders = true});
    test::TempDir client;
    CUpdateWindow window(
        StartOptions{server.Url("/update.xml"), 0,
                     BaseDirectories{client.Path() + "/client", client.Path() + "/windows",
                                     client.Path() + "/system32"}});
    ASSERT_NE(window.Handle(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return !server.Requests().empty(); }));
    const std::wstring name(ready, ready + std::strlen(ready));
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    ASSERT_NE(event, nullptr);
    SetEvent(event);
    CloseHandle(event);
    PumpUntil([] { return false; }, 60s);
    ADD_FAILURE() << "no click on the close spot ended the process";
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

// The child process, ended with status 99 should it outlive the test.
struct ChildProcess {
    PROCESS_INFORMATION Info{};
    HANDLE Ready = nullptr;
    ~ChildProcess() {
        if (Info.hProcess && WaitForSingleObject(Info.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(Info.hProcess, 99);
        if (Info.hThread) CloseHandle(Info.hThread);
        if (Info.hProcess) CloseHandle(Info.hProcess);
        if (Ready) CloseHandle(Ready);
    }
};

TEST(CloseSpot, ADragFromItGoesOnAndAClickOnItEndsTheProcessAtOnce) {
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_filter=CloseSpot.Child";
    const std::string readyName = "toval-close-spot-" + std::to_string(GetCurrentProcessId());
    ChildProcess child;
    child.Ready = CreateEventA(nullptr, TRUE, FALSE, readyName.c_str());
    ASSERT_NE(child.Ready, nullptr);
    SetEnvironmentVariableA(kChildVariable, readyName.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &child.Info);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    ASSERT_TRUE(started);
    ASSERT_EQ(WaitForSingleObject(child.Ready, 60'000), WAIT_OBJECT_0);
    const HWND window = WindowOfProcess(child.Info.dwProcessId);
    ASSERT_NE(window, nullptr);

    // Sent rather than posted: each returns once the window has handled it, whatever the
    // system's own move loop, which the drag starts, does with posted input.
    const auto send = [&](UINT message, WPARAM buttons, int x, int y) {
        SendMessageTimeoutW(window, message, buttons, MAKELPARAM(x, y), SMTO_NORMAL, 10'000,
                            nullptr);
    };
    // Pressed on the spot, moved along the strip, released where it was pressed, as after a
    // drag the window followed: no click.
    send(WM_LBUTTONDOWN, MK_LBUTTON, 350, 5);
    send(WM_MOUSEMOVE, MK_LBUTTON, 300, 6);
    send(WM_LBUTTONUP, 0, 350, 5);
    ASSERT_EQ(WaitForSingleObject(child.Info.hProcess, 300), WAIT_TIMEOUT)
        << "the drag from the close spot ended the process";
    // The shell shows the icon; the same probe sees when it has gone.
    NOTIFYICONDATAW probe{};
    probe.cbSize = NOTIFYICONDATAW_V1_SIZE;
    probe.hWnd = window;
    EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &probe));

    // A click ends the process, and at once: the player sees the window go with the click.
    send(WM_LBUTTONDOWN, MK_LBUTTON, 350, 5);
    const auto clicked = std::chrono::steady_clock::now();
    send(WM_LBUTTONUP, 0, 350, 5);
    const DWORD waited = WaitForSingleObject(child.Info.hProcess, 60'000);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - clicked);
    ASSERT_EQ(waited, WAIT_OBJECT_0);
    DWORD status = 99;
    GetExitCodeProcess(child.Info.hProcess, &status);
    EXPECT_EQ(status, 0u);
    std::printf("the close spot ended the process %lld ms after the click\n",
                static_cast<long long>(took.count()));
    EXPECT_LT(took, 1s);
    // The icon went with the process, though it did not wait to hear so.
    EXPECT_TRUE(PumpUntil([&] { return !Shell_NotifyIconW(NIM_MODIFY, &probe); }, 10s));
}

}  // namespace
}  // namespace toval
