#include "ui/tray_icon_windows.h"

#include <cwchar>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/wide_text.h"
#include "ui/run_display.h"
#include "ui/window_texts.h"

namespace toval {

namespace {
// The tip as the tray holds it: at most kTrayTipLimit UTF-16 units, never half a character.
std::wstring LimitedTip(const std::string& tip) {
    std::wstring wide = Widen(tip);
    if (wide.size() > static_cast<size_t>(kTrayTipLimit)) {
        size_t keep = kTrayTipLimit;
        if (wide[keep - 1] >= 0xD800 && wide[keep - 1] <= 0xDBFF) --keep;
        wide.resize(keep);
    }
    return wide;
}
}  // namespace

TrayIconWindows::~TrayIconWindows() {
    Remove();
    AwaitRemoval(kTrayAnswerWait);
}

bool TrayIconWindows::Add(HWND window, const std::array<HICON, 3>& frames) {
    if (IsAdded) return true;
    Frames = frames;
    CurrentFrame = 0;
    Data = NOTIFYICONDATAW{};
    // The first layout of the record: its 64-unit tip is all the tip needs, and every shell
    // takes it.
    Data.cbSize = NOTIFYICONDATAW_V1_SIZE;
    Data.hWnd = window;
    Data.uID = 0;
    Data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    Data.uCallbackMessage = kTrayCallbackMessage;
    Data.hIcon = Frames[0];
    const std::wstring tip = LimitedTip(std::string(kTrayTipIdle));
    std::wcsncpy(Data.szTip, tip.c_str(), kTrayTipLimit);
    IsAdded = Shell_NotifyIconW(NIM_ADD, &Data) != FALSE;
    return IsAdded;
}

void TrayIconWindows::Step(const std::string& tip) {
    if (!IsAdded) return;
    CurrentFrame = NextTrayFrame();
    Data.hIcon = Frames[static_cast<size_t>(CurrentFrame)];
    Data.uFlags = NIF_ICON;
    Shell_NotifyIconW(NIM_MODIFY, &Data);
    const std::wstring wide = LimitedTip(tip);
    if (std::wcsncmp(Data.szTip, wide.c_str(), kTrayTipLimit) != 0) {
        // wcsncpy fills the rest with zeros, so no end of an older, longer tip stays behind.
        std::wcsncpy(Data.szTip, wide.c_str(), kTrayTipLimit);
        Data.uFlags = NIF_TIP;
        Shell_NotifyIconW(NIM_MODIFY, &Data);
    }
}

void TrayIconWindows::Restore() {
    if (!IsAdded) return;
    Data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    Shell_NotifyIconW(NIM_ADD, &Data);
}

void TrayIconWindows::Remove() {
    if (!IsAdded) return;
    IsAdded = false;
    std::promise<void> answer;
    Removal = answer.get_future();
    // The thread has a copy of the record, since it may outlive this object.
    try {
        std::thread([data = Data, answer = std::move(answer)]() mutable {
            Shell_NotifyIconW(NIM_DELETE, &data);
            answer.set_value();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the answer is awaited here, however long the shell takes.
        Shell_NotifyIconW(NIM_DELETE, &Data);
    }
}

void TrayIconWindows::AwaitRemoval(std::chrono::milliseconds limit) const {
    if (Removal.valid()) Removal.wait_for(limit);
}

}  // namespace toval
