#include "ui/CUpdateWindow_windows.h"

#include <windowsx.h>

#include "engine/status_texts.h"
#include "platform/debug_output.h"
#include "platform/wide_text.h"
#include "ui/window_layout.h"
#include "ui/window_texts.h"

namespace toval {

namespace {
constexpr wchar_t kClassName[] = L"TovalUpdateWindow";
// The window's own messages: the run's queue has something to deliver; the run asked to end.
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT kEndMessage = WM_APP + 2;

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

KeyName KeyOf(WPARAM key) {
    return key == VK_RETURN ? KeyName::Enter : key == VK_ESCAPE ? KeyName::Escape : KeyName::Other;
}

bool Modified() {
    for (const int key : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN})
        if (GetKeyState(key) < 0) return true;
    return false;
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

    RunHost = std::make_unique<RunSession>(*this, options);
    TrayIcon.Add(window, Pictures.TrayFrames);
    SetTimer(window, WM_TIMER_PUMP, kTimerPeriodMs, nullptr);
    SetTimer(window, WM_TIMER_REPAINT, kTimerPeriodMs, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    RunHost->Start();
}

CUpdateWindow::~CUpdateWindow() {
    if (HWND window = Window.load()) DestroyWindow(window);
    // Cancels and joins the transfers; what they still post finds no window and is dropped. The
    // shell answers the icon's removal meanwhile; the icon, going after the run, waits briefly
    // for the answer.
    RunHost.reset();
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
    if (RunHost) RunHost->EndWindow();
    // The icon goes with the window; the run stays until the object goes, since a handler of it
    // may still be on the stack below a message box.
    TrayIcon.Remove();
    if (HWND window = Window.load()) DestroyWindow(window);
    // GetMessageW hands a sent message to its window and goes on waiting for a posted one: were
    // the window ended in a sent message (another program's WM_CLOSE), the loop would wait for
    // good, its timers gone with the window.
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
}

bool CUpdateWindow::WakeUp() {
    HWND window = Window.load();
    return window && PostMessageW(window, kWakeMessage, 0, 0);
}

void CUpdateWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                                   uint32_t type) {
    const std::wstring title = caption.empty() ? ApplicationName() : Widen(caption);
    // No owner: the window itself lies off screen, and the box must be seen. Its loop goes on
    // delivering this thread's messages, so the run's handlers may run meanwhile.
    MessageBoxW(nullptr, Widen(text).c_str(), title.c_str(), type | MB_SETFOREGROUND);
}

uint32_t CUpdateWindow::OwnWindowId() const {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Window.load()));
}

void CUpdateWindow::EndLoop() {
    // Ends the window after the handler that asked has returned.
    if (HWND window = Window.load()) PostMessageW(window, kEndMessage, 0, 0);
}

void CUpdateWindow::Invalidate() {
    if (HWND window = Window.load()) InvalidateRect(window, nullptr, FALSE);
}

void CUpdateWindow::ProgressHandled() { TrayIcon.Step(CurrentTrayTip(RunHost->Run())); }

void CUpdateWindow::PaintTo(HDC dc) {
    RECT client{};
    GetClientRect(Window.load(), &client);
    PaintProgress(dc, SIZE{client.right, client.bottom}, Pictures, TextFonts,
                  RunHost ? Frozen ? *Frozen : CurrentFigures(RunHost->Run()) : PaintedFigures{});
}

void CUpdateWindow::Paint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Window.load(), &paint);
    ::toval::DebugOutput("OnPaint");
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
            if (RunHost && !IsEnded) RunHost->DeliverPosted();
            return 0;
        case kEndMessage:
            End();
            return 0;
        case WM_TIMER:
            if (wParam == WM_TIMER_PUMP || wParam == WM_TIMER_REPAINT) {
                if (RunHost) RunHost->Tick(static_cast<uint32_t>(wParam));
                return 0;
            }
            break;
        case WM_COMMAND:
            // From another program (the caller): queued behind what the workers posted.
            if (const uint32_t id = WindowCommandId(static_cast<uint32_t>(wParam)); id != 0)
                RunHost->Post(kCommandMessage, id, nullptr);
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
            RunHost->PointerPressed({x, y}, OnScreen(window, x, y));
            break;
        case WM_LBUTTONUP:
            RunHost->PointerReleased({x, y});
            break;
        case WM_MOUSEMOVE: {
            const layout::Point screen = OnScreen(window, x, y);
            const PointerStep step =
                RunHost->PointerMoved({x, y}, screen, (wParam & MK_LBUTTON) != 0);
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
            if (RunSession::KeyEndsWindow(KeyOf(wParam), Modified())) {
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
