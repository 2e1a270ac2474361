// The native window under Wine on an X server: where it opens, what it shows on the screen, its
// tray icon, its frame, the run it hosts; its pictures come from res/toval-updater.rc, which this
// program links as the updater does. What it paints is checked in painting_test.cpp, how it ends
// the process in ending_test.cpp.

#include "ui/CUpdateWindow_windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/progress_figures.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "tests/ui_windows/pixels.h"
#include "tests/ui_windows/pump_messages.h"
#include "ui/window_layout.h"

namespace toval {
namespace {

using namespace std::chrono_literals;

using test::Draw;
using test::Pixels;
using test::PumpUntil;
using test::Read;

// Writes `pixels` as a 24-bit BMP.
bool SaveBmp(const Pixels& pixels, const std::string& path) {
    const int stride = (pixels.Width * 3 + 3) & ~3;
    const uint32_t imageBytes = static_cast<uint32_t>(stride * pixels.Height);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + imageBytes;
    info.biSize = sizeof info;
    info.biWidth = pixels.Width;
    info.biHeight = pixels.Height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = imageBytes;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    std::vector<char> row(static_cast<size_t>(stride));
    for (int y = pixels.Height - 1; y >= 0; --y) {
        for (int x = 0; x < pixels.Width; ++x) {
            const uint32_t v = pixels.At(x, y);
            row[static_cast<size_t>(x * 3)] = static_cast<char>(v & 0xFF);
            row[static_cast<size_t>(x * 3 + 1)] = static_cast<char>((v >> 8) & 0xFF);
            row[static_cast<size_t>(x * 3 + 2)] = static_cast<char>((v >> 16) & 0xFF);
        }
        out.write(row.data(), stride);
    }
    return out.good();
}

struct WindowTest : ::testing::Test {
    // Each run has a client directory of its own, so that no two share a run lock.
    StartOptions Options(const std::string& url, uint32_t caller = 0) {
        return StartOptions{url, caller,
                            BaseDirectories{Client.Path() + "/client", Client.Path() + "/windows",
                                            Client.Path() + "/system32"}};
    }
    test::TempDir Client;
};

std::wstring Title(HWND window) {
    wchar_t text[128] = {};
    GetWindowTextW(window, text, 128);
    return text;
}

TEST_F(WindowTest, OpensOffScreenWithTitleTrayAndNoMinimiseAndPaintsAtTheSharedPlaces) {
    // A catalogue that never comes: the transfer stays running, and the window stays open.
    test::HttpServer server;
    server.Route("/update.xml", test::Response{.StallBeforeHeaders = true});
    CUpdateWindow window(Options(server.Url("/update.xml")));
    HWND handle = window.Handle();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(Title(handle), L"自动升级-正在下载文件");
    RECT outer{};
    GetWindowRect(handle, &outer);
    EXPECT_EQ(outer.left, 10000);
    EXPECT_EQ(outer.top, 0);
    EXPECT_EQ(outer.right - outer.left, 420);
    EXPECT_EQ(outer.bottom - outer.top, 250);
    const LONG_PTR style = GetWindowLongPtrW(handle, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
    EXPECT_TRUE(GetWindowLongPtrW(handle, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_TRUE(IsWindowVisible(handle));
    // Shell_NotifyIconW accepted the icon.
    EXPECT_TRUE(window.Tray().Added());
    EXPECT_EQ(window.Tray().Icon(), window.Images().TrayFrames[0]);
    EXPECT_EQ(window.Tray().Tip(), L"正在自动更新");
    // Explorer restarted: its new taskbar knows no icon of ours until the broadcast says so.
    NOTIFYICONDATAW probe{};
    probe.cbSize = NOTIFYICONDATAW_V1_SIZE;
    probe.hWnd = handle;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &probe));
    EXPECT_FALSE(Shell_NotifyIconW(NIM_MODIFY, &probe));
    SendMessageW(handle, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(Shell_NotifyIconW(NIM_MODIFY, &probe));

    SendMessageW(handle, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_FALSE(IsIconic(handle));

    // One frame per handled notification of the running catalogue transfer; none without one.
    ASSERT_TRUE(PumpUntil([&] { return window.Run().ShownTransfer() != nullptr; }));
    ITransfer* catalogue = window.Run().ShownTransfer();
    int frame = window.Tray().Frame();
    for (int step = 1; step <= 3; ++step) {
        window.Session().Post(WM_DOWNLOAD_PROGRESS, MakeNotifyParam(1, 0), nullptr);
        window.Session().Post(WM_DOWNLOAD_PROGRESS, MakeNotifyParam(1, 0), catalogue);
        ASSERT_TRUE(PumpUntil([&] { return window.Tray().Frame() != frame; }));
        EXPECT_EQ(window.Tray().Frame(), (frame + 1) % 3);
        frame = window.Tray().Frame();
        EXPECT_EQ(window.Tray().Icon(), window.Images().TrayFrames[static_cast<size_t>(frame)]);
    }
    EXPECT_EQ(window.Tray().Tip(), L"正在自动更新");

    // On screen for a moment, to be read back from the screen as the player would see it.
    window.FreezeFigures({.StatusText = "maps.pak",
                          .FilePercent = 62,
                          .TotalPercent = 38,
                          .KilobytesPerSecond = 1'499'136 / 1024,
                          .FilePosition = 1,
                          .FileCount = 12});
    SetWindowPos(handle, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    PumpUntil([] { return false; }, 500ms);  // a few repaint ticks
    RECT client{};
    GetClientRect(handle, &client);
    POINT origin{0, 0};
    ClientToScreen(handle, &origin);
    const Pixels shot = Draw(outer.right - outer.left, outer.bottom - outer.top, [&](HDC dc) {
        HDC screen = GetDC(nullptr);
        BitBlt(dc, 0, 0, outer.right - outer.left, outer.bottom - outer.top, screen, 0, 0, SRCCOPY);
        ReleaseDC(nullptr, screen);
    });
    if (const char* path = std::getenv("TOVAL_WINDOW_SCREENSHOT")) {
        EXPECT_TRUE(SaveBmp(shot, path));
    }
    const Pixels background = Read(window.Images().Background);
    const Pixels bar = Read(window.Images().Bar);
    auto at = [&](int x, int y) { return shot.At(origin.x + x, origin.y + y); };
    const int fileBar = ProgressFigures::BarWidth(62);
    const int totalBar = ProgressFigures::BarWidth(38);
    EXPECT_EQ(at(12 + fileBar - 1, 110), bar.At(fileBar - 1, 6));
    EXPECT_EQ(at(12 + fileBar, 110), background.At(12 + fileBar, 110));
    EXPECT_EQ(at(12 + totalBar - 1, 160), bar.At(totalBar - 1, 4));
    EXPECT_EQ(at(12 + totalBar, 160), background.At(12 + totalBar, 160));
    EXPECT_EQ(at(30, 20), background.At(30, 20));  // banner
    EXPECT_EQ(at(5, 200), background.At(5, 200));  // body
    int inked = 0;  // "62% (1/12)": the only catalogue transfer counts as the first file
    for (int y = layout::kTextRow; y < layout::kTextRow + layout::kTextCell; ++y) {
        for (int x = layout::kCountX; x < client.right; ++x)
            inked += at(x, y) != background.At(x, y);
    }
    EXPECT_GT(inked, 30);

    // Closing ends the window and takes the tray icon with it.
    SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_TRUE(window.Ended());
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_FALSE(window.Tray().Added());
}

// Closes every message box of this process, recording captions and texts.
class MessageBoxCloser {
  public:
    MessageBoxCloser()
        : Worker([this](std::stop_token stop) {
              while (!stop.stop_requested()) {
                  EnumWindows(&MessageBoxCloser::Visit, reinterpret_cast<LPARAM>(this));
                  std::this_thread::sleep_for(20ms);
              }
          }) {}
    std::vector<std::pair<std::wstring, std::wstring>> Boxes() {
        std::lock_guard guard(Lock);
        return Seen;
    }

  private:
    static BOOL CALLBACK Visit(HWND window, LPARAM self) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t className[32] = {};
        GetClassNameW(window, className, 32);
        if (process != GetCurrentProcessId() || std::wstring(className) != L"#32770" ||
            !IsWindowVisible(window))
            return TRUE;
        auto* closer = reinterpret_cast<MessageBoxCloser*>(self);
        wchar_t text[512] = {};
        GetDlgItemTextW(window, 0xFFFF, text, 512);  // the box's static text
        {
            std::lock_guard guard(closer->Lock);
            closer->Seen.emplace_back(Title(window), text);
        }
        PostMessageW(window, WM_COMMAND, IDOK, 0);
        std::this_thread::sleep_for(200ms);  // the box takes a moment to go
        return TRUE;
    }

    std::mutex Lock;
    std::vector<std::pair<std::wstring, std::wstring>> Seen;
    std::jthread Worker;
};

TEST_F(WindowTest, RefusedCatalogueShowsItsBoxAndTheRunEndsTheWindow) {
    MessageBoxCloser boxes;
    // Port 1 refuses at once: the catalogue transfer fails on its worker, the failure comes back
    // through the window's queue, the box runs its own loop, and the run ends the window.
    CUpdateWindow window(Options("http://127.0.0.1:1/update.xml"));
    ASSERT_NE(window.Handle(), nullptr);
    std::jthread watchdog([&, handle = window.Handle()](std::stop_token stop) {
        for (int i = 0; i < 600 && !stop.stop_requested(); ++i) std::this_thread::sleep_for(100ms);
        if (!stop.stop_requested()) PostMessageW(handle, WM_CLOSE, 0, 0);  // never hang
    });
    window.Exec();
    watchdog.request_stop();
    const auto seen = boxes.Boxes();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, L"系统提示");
    EXPECT_FALSE(seen[0].second.empty());
    EXPECT_TRUE(window.Ended());
    EXPECT_FALSE(window.Tray().Added());
    EXPECT_EQ(window.Run().RunOutcome(), CUpdateRun::Outcome::Failed);
}

// The launcher's window, as far as the updater sees it: it records what reaches it.
struct CallerWindow {
    static LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == 890) Results.push_back({wParam, lParam});
        return DefWindowProcW(window, message, wParam, lParam);
    }
    CallerWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Record;
        windowClass.lpszClassName = L"TovalTestLauncher";
        RegisterClassW(&windowClass);
        Handle = CreateWindowExW(0, L"TovalTestLauncher", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 nullptr, nullptr);
        Results.clear();
    }
    ~CallerWindow() { DestroyWindow(Handle); }
    uint32_t Id() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Handle)); }
    HWND Handle = nullptr;
    static inline std::vector<std::pair<WPARAM, LPARAM>> Results;
};

TEST_F(WindowTest, CallerHearsTheCountAndCommand1005QueuesNoSecondCatalogueMidway) {
    test::HttpServer server;
    std::string xml = "<?xml version=\"1.0\"?>\n<xmlRoot>";
    for (const char* name : {"a.dat", "b.dat"})
        xml += std::string("<File><FileName>") + name + "</FileName><Length>4</Length><URL>" +
               server.Url(std::string("/files/") + name) + "</URL></File>";
    server.Route("/update.xml", test::Response{.Body = xml + "</xmlRoot>"});
    server.Route("/files/a.dat", test::Response{.Body = "aaaa", .StallBeforeHeaders = true});
    server.Route("/files/b.dat", test::Response{.Body = "bbbb"});
    CallerWindow caller;
    ASSERT_NE(caller.Handle, nullptr);
    CUpdateWindow window(Options(server.Url("/update.xml"), caller.Id()));
    ASSERT_NE(window.Handle(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return !CallerWindow::Results.empty(); }));
    EXPECT_EQ(CallerWindow::Results[0].first, 2u);
    EXPECT_EQ(CallerWindow::Results[0].second,
              static_cast<LPARAM>(reinterpret_cast<uintptr_t>(window.Handle())));

    // a.dat is held at the front: a second catalogue now would end the update half way with a
    // second result, so 1005 (low word, as a menu or a button sends it) changes nothing.
    ASSERT_TRUE(PumpUntil([&] { return window.Run().QueuedCount() == 2; }));
    SendMessageW(window.Handle(), WM_COMMAND, 1005, 0);
    server.ReleaseStalls();
    ASSERT_TRUE(PumpUntil([&] { return window.Ended(); }));
    int catalogueRequests = 0;
    for (const auto& r : server.Requests()) catalogueRequests += r.Target == "/update.xml";
    EXPECT_EQ(catalogueRequests, 1);
    EXPECT_EQ(CallerWindow::Results.size(), 1u);
    EXPECT_EQ(test::ReadFile(Client.Path() + "/client/b.dat"), "bbbb");
}

}  // namespace
}  // namespace toval
