// The result of the check reaches the caller's window as the message it waits for.

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/caller_message.h"

namespace toval {
namespace {

struct Received {
    UINT Message = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
};
Received Last;

LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == 890) Last = {message, wParam, lParam};
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(CallerMessage, TheCallersWindowGetsTheCountAndOurWindow) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Record;
    windowClass.lpszClassName = L"TovalTestCaller";
    ASSERT_TRUE(RegisterClassW(&windowClass));
    // A message-only window: the launcher's is an ordinary one, but nothing here needs a screen.
    HWND caller = CreateWindowExW(0, L"TovalTestCaller", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(caller, nullptr);
    const auto handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(caller));
    EXPECT_TRUE(SendUpdateResultMessage(handle, 3, 0x1234));
    EXPECT_EQ(Last.Message, 890u);
    EXPECT_EQ(Last.WParam, 3u);
    EXPECT_EQ(Last.LParam, 0x1234);

    DestroyWindow(caller);
    Last = {};
    EXPECT_FALSE(SendUpdateResultMessage(handle, 3, 0)) << "a window that is gone";
    EXPECT_EQ(Last.Message, 0u);
}

}  // namespace
}  // namespace toval
