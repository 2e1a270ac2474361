#pragma once
// The tray icon of the native window: three frames that turn one step per handled progress
// notification, and a tip that says what is being fetched.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#include <array>
#include <chrono>
#include <future>
#include <string>

namespace toval {

// Where the shell reports mouse actions on the icon; nothing handles it, so clicks do nothing.
inline constexpr UINT kTrayCallbackMessage = WM_USER + 102;

// How long the icon's owner waits, as it ends, for the shell to answer the icon's removal. A
// Windows shell answers within milliseconds; Wine's hides its own tray window with the last icon
// before it answers, which takes it two seconds when no window manager acknowledges the hiding.
inline constexpr std::chrono::milliseconds kTrayAnswerWait{100};

class TrayIconWindows {
  public:
    TrayIconWindows() = default;
    TrayIconWindows(const TrayIconWindows&) = delete;
    TrayIconWindows& operator=(const TrayIconWindows&) = delete;
    // Removes the icon and waits for the shell's answer, but no longer than kTrayAnswerWait: long
    // enough for the request to have left before the process can end.
    ~TrayIconWindows();

    // Shows the icon with frame 130 and the idle tip, owned by `window`; false when the shell
    // refused it (no tray, for one): the window goes on without.
    bool Add(HWND window, const std::array<HICON, 3>& frames);
    // One progress notification handled: the next frame, and the tip when it changed.
    void Step(const std::string& tip);
    // The shell's taskbar was made anew (Explorer restarted) and knows no icon of ours: the one
    // shown before comes back as it stood.
    void Restore();
    // Asks the shell to remove the icon and returns at once: the request, and the wait for its
    // answer, go on a thread of their own. The shell holds a request once it has been sent and
    // carries it out whether or not the asker still waits, so the process need not wait for
    // the answer to end, only for the request to have left.
    void Remove();
    // Waits until the shell has answered the last removal, or `limit` has passed.
    void AwaitRemoval(std::chrono::milliseconds limit) const;

    bool Added() const { return IsAdded; }
    int Frame() const { return CurrentFrame; }
    HICON Icon() const { return Data.hIcon; }
    std::wstring Tip() const { return Data.szTip; }

  private:
    NOTIFYICONDATAW Data{};
    std::array<HICON, 3> Frames{};
    bool IsAdded = false;
    int CurrentFrame = 0;
    std::future<void> Removal;  // the shell's answer to the last removal
};

}  // namespace toval
