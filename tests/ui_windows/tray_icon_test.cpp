// The tray icon's removal on Wine's shell, whose answer to the removal of its last icon takes two
// seconds: asking returns at once, and the shell carries it out. The owner window stays, since
// Wine's shell also drops the icons of a window that is destroyed, which would hide a removal
// never sent.

#include "ui/tray_icon_windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "tests/ui_windows/pump_messages.h"

namespace toval {
namespace {

using namespace std::chrono_literals;
using test::PumpUntil;

bool IconShown(HWND owner) {
    NOTIFYICONDATAW probe{};
    probe.cbSize = NOTIFYICONDATAW_V1_SIZE;
    probe.hWnd = owner;
    return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

TEST(TrayIcon, RemovalAndTheOwnersEndReturnAtOnceAndTheIconGoes) {
    HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                 nullptr);
    ASSERT_NE(owner, nullptr);
    const HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
    for (const bool byDestructor : {false, true}) {
        SCOPED_TRACE(byDestructor ? "the owner's end" : "Remove");
        auto tray = std::make_unique<TrayIconWindows>();
        ASSERT_TRUE(tray->Add(owner, {icon, icon, icon}));
        ASSERT_TRUE(IconShown(owner));
        const auto asked = std::chrono::steady_clock::now();
        if (byDestructor) {
            tray.reset();
        } else {
            tray->Remove();
            EXPECT_FALSE(tray->Added());
        }
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
        EXPECT_TRUE(PumpUntil([&] { return !IconShown(owner); }, 10s));
    }
    DestroyWindow(owner);
}

}  // namespace
}  // namespace toval
