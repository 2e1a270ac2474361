#include "ui/CUpdateWindow_windows.h"

#include <windowsx.h>

#include <cstdio>
#include <cstdlib>

#include "engine/status_texts.h"
#include "platform/caller_message.h"
#include "platform/debug_output.h"
#include "platform/termination.h"
#include "platform/wide_text.h"
#include "ui/window_layout.h"
#include "ui/window_texts.h"

namespace toval {

namespace {
constexpr wchar_t kClassName[] = L"TovalUpdateWindow";
// The window's own messages: the run's queue has something to deliver; the run asked to end.
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT kEndMessage = WM_APP + 2;
// A timer that has not fired for this long is starved by a stream of posted messages, which
// Windows always hands out before timers and paints; it is then run in between.
constexpr auto kStarvedAfter = std::chrono::milliseconds(3 * kTimerPeriodMs);

// Broadcast to every top-level window when Explorer has made its taskbar anew.
UINT TaskbarCreated() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

// A point of `window`'s client area on the screen.
layout::Point OnScreen(HWND window, int x, int y) {
    POINT point{x, y};
    ClientToScreen(window, &point);
    return {point.x, point.y};
}

bool RegisterWindowClass(HINSTANCE module, WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    // No background brush: the paint covers the whole client area, erasing would only flicker.
    windowClass.hbrBackground = nullptr;
    windowClass.lpszClassName = kClassName;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}
}  // namespace

std::wstring ApplicationName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    if (const auto dot = name.rfind(L'.'); dot != std::wstring::npos && dot > 0) name.resize(dot);
    return name.empty() ? L"toval-updater" : name;
}

CUpdateWindow::CUpdateWindow(const StartOptions& options) : Pictures(WindowImages::Load()) {
    HINSTANCE module = GetModuleHandleW(nullptr);
    if (!RegisterWindowClass(module, &CUpdateWindow::Procedure)) return;
    const std::wstring title = Widen(kWindowTitle);
    // A caption with the system menu and its close button, no minimise or maximise box, a fixed
    // frame, and a taskbar button of its own.
    HWND window = CreateWindowExW(WS_EX_APPWINDOW | WS_EX_DLGMODALFRAME, kClassName, title.c_str(),
                                  WS_POPUP | WS_CAPTION | WS_SYSMENU, layout::kPosition.X,
                                  layout::kPosition.Y, layout::kOuterSize.Width,
                                  layout::kOuterSize.Height, nullptr, nullptr, module, this);
    if (!window) return;
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Pictures.AppIcon));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(Pictures.AppIconSmall));

    UpdateRun = options.Directories ? std::make_unique<CUpdateRun>(*this, *options.Directories)
                                    : std::make_unique<CUpdateRun>(*this);
    UpdateRun->SetCallerWindow(options.CallerWindow);
    // The command line always supplies a URL (the default one when it names none).
    UpdateRun->AddServer(std::string(kServerName), options.UpdateUrl);
    TrayIcon.Add(window, Pictures.TrayFrames);

    SetTimer(window, WM_TIMER_PUMP, kTimerPeriodMs, nullptr);
    SetTimer(window, WM_TIMER_REPAINT, kTimerPeriodMs, nullptr);
    LastPump = LastRepaint = std::chrono::steady_clock::now();
    // The first pump step comes as soon as a loop runs rather than a period later: the window
    // lies off screen, so nobody gains from waiting before the catalogue is asked for.
    PostMessageW(window, WM_TIMER, WM_TIMER_PUMP, 0);

    ShowWindow(window, SW_SHOWNORMAL);
    UpdateRun->StartRun(options.UpdateUrl);
}

CUpdateWindow::~CUpdateWindow() {
    if (HWND window = Window.load()) DestroyWindow(window);
    // Cancels and joins the transfers; what they still post finds no window and is dropped. The
    // shell answers the icon's removal meanwhile; the icon, going after the run, waits briefly
    // for the answer.
    UpdateRun.reset();
}

void CUpdateWindow::Exec() {
    MSG message;
    while (!IsEnded && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void CUpdateWindow::End() {
    if (IsEnded) return;
    IsEnded = true;
    // The icon goes with the window; the run stays until the object goes, since a handler of it
    // may still be on the stack below a message box.
    TrayIcon.Remove();
    if (HWND window = Window.load()) DestroyWindow(window);
    // GetMessageW hands a sent message to its window and goes on waiting for a posted one: were
    // the window ended in a sent message (another program's WM_CLOSE), the loop would wait for
    // good, its timers gone with the window.
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
}

void CUpdateWindow::Post(uint32_t message, uint32_t wParam, ITransfer* lParam) {
    {
        std::lock_guard guard(QueueLock);
        Queue.push_back({message, wParam, lParam});
    }
    WakeUp();
}

void CUpdateWindow::WakeUp() {
    {
        std::lock_guard guard(QueueLock);
        if (WakePending || Queue.empty()) return;
        WakePending = true;
    }
    // One wake-up at a time, however many messages wait: the thread's own queue has a limit of
    // its own. Should it be full, the next timer tick tries again.
    HWND window = Window.load();
    if (!window || !PostMessageW(window, kWakeMessage, 0, 0)) {
        std::lock_guard guard(QueueLock);
        WakePending = false;
    }
}

void CUpdateWindow::DeliverPosted() {
    size_t budget = 0;
    {
        std::lock_guard guard(QueueLock);
        WakePending = false;
        budget = Queue.size();
    }
    // Only what was there when the wake-up came: messages that keep arriving meanwhile wait for
    // the next wake-up, behind the timers and paints.
    while (budget-- > 0 && !IsEnded) {
        Message message{};
        {
            std::lock_guard guard(QueueLock);
            if (Queue.empty()) break;
            message = Queue.front();
            Queue.pop_front();
        }
        // A message box shown by this handler delivers later messages from its own loop.
        UpdateRun->Dispatch(message.Id, message.WParam, message.LParam);
    }
    if (IsEnded) return;
    WakeUp();
    CatchUpTicks();
}

void CUpdateWindow::CatchUpTicks() {
    const auto now = std::chrono::steady_clock::now();
    if (now - LastPump >= kStarvedAfter) Tick(WM_TIMER_PUMP);
    if (!IsEnded && now - LastRepaint >= kStarvedAfter) {
        Tick(WM_TIMER_REPAINT);
        if (HWND window = Window.load()) UpdateWindow(window);
    }
}

void CUpdateWindow::Tick(UINT id) {
    CheckTermination();
    if (IsEnded || !UpdateRun) return;
    (id == WM_TIMER_PUMP ? LastPump : LastRepaint) = std::chrono::steady_clock::now();
    UpdateRun->OnTimer(id);
    WakeUp();
}

void CUpdateWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                                   uint32_t type) {
    const std::wstring title = caption.empty() ? ApplicationName() : Widen(caption);
    // No owner: the window itself lies off screen, and the box must be seen. Its loop goes on
    // delivering this thread's messages, so the run's handlers may run meanwhile.
    MessageBoxW(nullptr, Widen(text).c_str(), title.c_str(), type | MB_SETFOREGROUND);
}

void CUpdateWindow::SendUpdateResult(uint32_t callerWindow, uint32_t count) {
    SendUpdateResultMessage(callerWindow, count,
                            static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Window.load())));
}

void CUpdateWindow::PostQuit() {
    // Ends the window after the handler that asked has returned.
    if (HWND window = Window.load()) PostMessageW(window, kEndMessage, 0, 0);
}

void CUpdateWindow::Invalidate() {
    if (HWND window = Window.load()) InvalidateRect(window, nullptr, FALSE);
}

void CUpdateWindow::ProgressHandled() { TrayIcon.Step(CurrentTrayTip(*UpdateRun)); }

void CUpdateWindow::DebugOutput(const std::string& text) { ::toval::DebugOutput(text); }

void CUpdateWindow::PaintTo(HDC dc) {
    RECT client{};
    GetClientRect(Window.load(), &client);
    PaintProgress(dc, SIZE{client.right, client.bottom}, Pictures, TextFonts,
                  UpdateRun ? Frozen ? *Frozen : CurrentFigures(*UpdateRun) : PaintedFigures{});
}

void CUpdateWindow::Paint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Window.load(), &paint);
    DebugOutput("OnPaint");
    RECT client{};
    GetClientRect(Window.load(), &client);
    // Composed off screen and copied whole, so that the texts never flicker over the picture.
    HDC buffer = CreateCompatibleDC(dc);
    HBITMAP pixels = CreateCompatibleBitmap(dc, client.right, client.bottom);
    const HGDIOBJ before = SelectObject(buffer, pixels);
    PaintTo(buffer);
    BitBlt(dc, 0, 0, client.right, client.bottom, buffer, 0, 0, SRCCOPY);
    SelectObject(buffer, before);
    DeleteObject(pixels);
    DeleteDC(buffer);
    EndPaint(Window.load(), &paint);
}

void CUpdateWindow::CheckTermination() {
    const int signal = TerminationSignal();
    if (signal == 0) return;
    // The timers fire in a message box's loop too, so the process ends from here rather than
    // unwinding loops: the run settles everything it owns first.
    ExitAfter([this] { UpdateRun->Terminate(); }, 128 + signal);
}

void CUpdateWindow::ExitAtOnce() {
    // The run stops where it stands; the transfer in progress leaves its partial file, the
    // temporary catalogue goes.
    ExitAfter(
        [this] {
            if (UpdateRun) UpdateRun->Abandon();
        },
        0);
}

void CUpdateWindow::ExitAfter(const std::function<void()>& settle, int status) {
    // The icon must go, or a dead one stays in the tray until a pointer passes over it. The
    // shell answers its removal while the run settles, and is waited for only briefly: a shell
    // slow to answer does not hold the process.
    TrayIcon.Remove();
    settle();
    TrayIcon.AwaitRemoval(kTrayAnswerWait);
    std::fflush(nullptr);
    std::_Exit(status);
}

LRESULT CALLBACK CUpdateWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<CUpdateWindow*>(
            reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->Window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<CUpdateWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = self->Handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->Window = nullptr;
    }
    return result;
}

LRESULT CUpdateWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = Window.load();
    // The pointer's place when the message was made, in client coordinates.
    const int x = GET_X_LPARAM(lParam);
    const int y = GET_Y_LPARAM(lParam);
    switch (message) {
        case kWakeMessage:
            DeliverPosted();
            return 0;
        case kEndMessage:
            End();
            return 0;
        case WM_TIMER:
            if (wParam == WM_TIMER_PUMP || wParam == WM_TIMER_REPAINT) {
                Tick(static_cast<UINT>(wParam));
                return 0;
            }
            break;
        case WM_COMMAND:
            // From another program (the caller): queued behind what the workers posted.
            if (const uint32_t id = WindowCommandId(static_cast<uint32_t>(wParam)); id != 0)
                Post(kCommandMessage, id, nullptr);
            return 0;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_PRINTCLIENT:
            PaintTo(reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<LRESULT>(Pictures.AppIcon);
        case WM_LBUTTONDOWN:
            Pointer.Press({x, y}, OnScreen(window, x, y));
            break;
        case WM_LBUTTONUP:
            if (Pointer.Release({x, y}).Action == PointerAction::Close) ExitAtOnce();
            break;
        case WM_MOUSEMOVE: {
            const layout::Point screen = OnScreen(window, x, y);
            const PointerStep step = Pointer.Move({x, y}, screen, (wParam & MK_LBUTTON) != 0);
            // What a press on the caption does: the system moves the window with the pointer
            // until the button is released, a release the window then never sees. The system's
            // move holds the window where the pointer is now, so the few pixels a quick hand
            // moved since the press are not made up for.
            if (step.Action == PointerAction::StartMove) {
                PostMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(screen.X, screen.Y));
            }
            break;
        }
        case WM_SYSCOMMAND:
            // Minimising is refused, whatever asked for it.
            if ((wParam & 0xFFF0) == SC_MINIMIZE) return 0;
            break;
        case WM_KEYDOWN:
            // The window has no default button, so Enter simply ends it, as Esc does.
            if (wParam == VK_ESCAPE || wParam == VK_RETURN) {
                End();
                return 0;
            }
            break;
        case WM_CLOSE:
            End();
            return 0;
        case WM_DESTROY:
            KillTimer(window, WM_TIMER_PUMP);
            KillTimer(window, WM_TIMER_REPAINT);
            TrayIcon.Remove();
            break;
        default:
            if (message == TaskbarCreated()) TrayIcon.Restore();
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace toval
