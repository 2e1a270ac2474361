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
#include <string>

namespace toval {

// Where the shell reports mouse actions on the icon; nothing handles it, so clicks do nothing.
inline constexpr UINT kTrayCallbackMessage = WM_USER + 102;

class TrayIconWindows {
  public:
    TrayIconWindows() = default;
    TrayIconWindows(const TrayIconWindows&) = delete;
    TrayIconWindows& operator=(const TrayIconWindows&) = delete;
    ~TrayIconWindows() { Remove(); }

    // Shows the icon with frame 130 and the idle tip, owned by `window`; false when the shell
    // refused it (no tray, for one): the window goes on without.
    bool Add(HWND window, const std::array<HICON, 3>& frames);
    // One progress notification handled: the next frame, and the tip when it changed.
    void Step(const std::string& tip);
    // The shell's taskbar was made anew (Explorer restarted) and knows no icon of ours: the one
    // shown before comes back as it stood.
    void Restore();
    void Remove();

    bool Added() const { return IsAdded; }
    int Frame() const { return CurrentFrame; }
    HICON Icon() const { return Data.hIcon; }
    std::wstring Tip() const { return Data.szTip; }

  private:
    NOTIFYICONDATAW Data{};
    std::array<HICON, 3> Frames{};
    bool IsAdded = false;
    int CurrentFrame = 0;
};

}  // namespace toval
