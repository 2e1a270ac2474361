#include "ui/CUpdateDialog.h"

#include <unistd.h>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <cstdio>

#include "engine/status_texts.h"
#include "platform/caller_message.h"
#include "platform/debug_output.h"
#include "platform/termination.h"
#include "ui/run_display.h"
#include "ui/run_message_event.h"
#include "ui/window_texts.h"

namespace toval {

namespace {
QMessageBox::Icon BoxIcon(uint32_t type) {
    switch (type & 0xF0) {
        case 0x10:
            return QMessageBox::Critical;
        case 0x20:
            return QMessageBox::Question;
        case 0x30:
            return QMessageBox::Warning;
        case 0x40:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

layout::Point ClientPoint(const QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    return {at.x(), at.y()};
}
layout::Point ScreenPoint(const QMouseEvent* event) {
    const QPoint at = event->globalPosition().toPoint();
    return {at.x(), at.y()};
}
}  // namespace

CUpdateDialog::CUpdateDialog(const StartOptions& options)
    // An ordinary top-level window rather than a dialog: Qt makes a dialog without parent
    // transient for its own hidden leader window, and taskbars leave such windows out, while
    // this window's title is meant to stand in the taskbar.
    : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Images(DialogImages::Load()),
      TextFont(ProgressFont()),
      TrayIcon(Images.TrayFrames),
      CommandFilter([this] { return static_cast<uint32_t>(internalWinId()); },
                    [this](uint32_t id) {
                        QCoreApplication::postEvent(this,
                                                    new RunMessageEvent(kCommandMessage, id, nullptr));
                    }),
      UpdateRun(options.Directories ? std::make_unique<CUpdateRun>(*this, *options.Directories)
                                    : std::make_unique<CUpdateRun>(*this)) {
    // The whole client area is painted every time; erasing it first would only flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    UpdateRun->SetCallerWindow(options.CallerWindow);

    setWindowIcon(Images.AppIcon);
    move(kPosition);
    resize(kOuterSize);
    setWindowTitle(QString::fromUtf8(kWindowTitle.data(), qsizetype(kWindowTitle.size())));
    // The command line always supplies a URL (the default one when it names none).
    UpdateRun->AddServer(std::string(kServerName), options.UpdateUrl);
    TrayIcon.Add();

    PumpTimer.setInterval(kTimerPeriodMs);
    RepaintTimer.setInterval(kTimerPeriodMs);
    connect(&PumpTimer, &QTimer::timeout, this, [this] {
        CheckTermination();
        if (!Ended) UpdateRun->OnTimer(WM_TIMER_PUMP);
    });
    connect(&RepaintTimer, &QTimer::timeout, this, [this] {
        CheckTermination();
        if (!Ended) UpdateRun->OnTimer(WM_TIMER_REPAINT);
    });
    PumpTimer.start();
    RepaintTimer.start();
    // The first pump step comes as soon as the loop runs rather than a period later: the
    // window lies off screen, so nobody gains from waiting before the catalogue is asked for.
    QTimer::singleShot(0, this, [this] {
        if (!Ended) UpdateRun->OnTimer(WM_TIMER_PUMP);
    });

    QCoreApplication::instance()->installNativeEventFilter(&CommandFilter);
    UpdateRun->StartRun(options.UpdateUrl);
}

CUpdateDialog::~CUpdateDialog() {
    QCoreApplication::instance()->removeNativeEventFilter(&CommandFilter);
    PumpTimer.stop();
    RepaintTimer.stop();
    TrayIcon.Remove();
    // Cancels and joins the transfers before the window they post to goes away.
    UpdateRun.reset();
}

void CUpdateDialog::Post(uint32_t message, uint32_t wParam, ITransfer* lParam) {
    QCoreApplication::postEvent(this, new RunMessageEvent(message, wParam, lParam));
}

void CUpdateDialog::ShowMessageBox(const std::string& text, const std::string& caption,
                                   uint32_t type) {
    const QString title = caption.empty() ? QGuiApplication::applicationDisplayName()
                                          : QString::fromStdString(caption);
    // No parent: the window itself lies off screen, and the box must be seen.
    QMessageBox box(BoxIcon(type), title, QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

void CUpdateDialog::SendUpdateResult(uint32_t callerWindow, uint32_t count) {
    SendUpdateResultMessage(callerWindow, count, static_cast<uint32_t>(winId()));
}

void CUpdateDialog::PostQuit() {
    // Ends the modal loop after the handler that asked has returned.
    QMetaObject::invokeMethod(
        this, [this] { done(0); }, Qt::QueuedConnection);
}

void CUpdateDialog::Invalidate() { update(); }

void CUpdateDialog::ProgressHandled() {
    TrayIcon.Step(QString::fromStdString(CurrentTrayTip(*UpdateRun)));
}

void CUpdateDialog::DebugOutput(const std::string& text) { ::toval::DebugOutput(text); }

void CUpdateDialog::done(int result) {
    if (Ended) return;
    Ended = true;
    PumpTimer.stop();
    RepaintTimer.stop();
    TrayIcon.Remove();
    QDialog::done(result);
}

bool CUpdateDialog::event(QEvent* event) {
    if (event->type() == RunMessageEvent::Type()) {
        const auto* message = static_cast<RunMessageEvent*>(event);
        if (!Ended) UpdateRun->Dispatch(message->Message, message->WParam, message->LParam);
        return true;
    }
    return QDialog::event(event);
}

void CUpdateDialog::paintEvent(QPaintEvent*) {
    DebugOutput("OnPaint");
    QPainter painter(this);
    PaintProgress(painter, size(), Images.Background, Images.Bar, TextFont,
                  Frozen ? *Frozen : CurrentFigures(*UpdateRun));
}

void CUpdateDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) Pointer.Press(ClientPoint(event), ScreenPoint(event));
    QDialog::mousePressEvent(event);
}

void CUpdateDialog::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton &&
        Pointer.Release(ClientPoint(event)).Action == PointerAction::Close) {
        ExitAtOnce();
    }
    QDialog::mouseReleaseEvent(event);
}

void CUpdateDialog::mouseMoveEvent(QMouseEvent* event) {
    // The window follows the pointer itself rather than handing the move to the window manager
    // (startSystemMove): openbox kept such a move going after the button was released, until the
    // next click, and without a manager nobody moves the window at all. The press keeps the
    // pointer grabbed by this window, so the moves arrive even when the pointer outruns it.
    // Each step places the window from where the move began rather than from where it stands:
    // a manager answers a move some time later, and steps taken from a place not yet updated
    // would be lost.
    const PointerStep step = Pointer.Move(ClientPoint(event), ScreenPoint(event),
                                          (event->buttons() & Qt::LeftButton) != 0);
    if (step.Action == PointerAction::StartMove) MoveOrigin = pos();
    if (step.Action == PointerAction::StartMove || step.Action == PointerAction::MoveBy) {
        move(MoveOrigin + QPoint(step.Offset.X, step.Offset.Y));
    }
    QDialog::mouseMoveEvent(event);
}

void CUpdateDialog::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
        // Minimising is refused, whatever asked for it.
        QMetaObject::invokeMethod(
            this, [this] { setWindowState(windowState() & ~Qt::WindowMinimized); },
            Qt::QueuedConnection);
    }
    QDialog::changeEvent(event);
}

void CUpdateDialog::keyPressEvent(QKeyEvent* event) {
    // The window has no default button, so Enter simply ends it, as Esc does; the keypad's
    // Enter is the same key.
    if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
        (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CUpdateDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FitOuterSize();
}

void CUpdateDialog::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    // A window manager frames the window some time after it has been shown, and the client area
    // moves into the frame then. Only a new frame is acted on: a manager that keeps windows on
    // screen would otherwise answer every move back to the designed place with another move.
    if (frameGeometry().size() - geometry().size() != FittedFrame) FitOuterSize();
}

void CUpdateDialog::FitOuterSize() {
    // The outer size includes the frame; the client area is whatever remains of it.
    FittedFrame = frameGeometry().size() - geometry().size();
    setFixedSize(kOuterSize - FittedFrame);
    move(kPosition);
}

void CUpdateDialog::CheckTermination() {
    const int signal = TerminationSignal();
    if (signal == 0) return;
    // The timers fire in a message box's nested loop too, so the process ends from here rather
    // than unwinding loops: the run settles everything it owns first.
    UpdateRun->Terminate();
    TrayIcon.Remove();
    std::fflush(nullptr);
    ::_exit(128 + signal);
}

void CUpdateDialog::ExitAtOnce() {
    // The run stops where it stands; the transfer in progress leaves its partial file, the
    // temporary catalogue goes. The icon goes first so that no dead icon stays in the tray.
    TrayIcon.Remove();
    UpdateRun->Abandon();
    std::fflush(nullptr);
    ::_exit(0);
}

}  // namespace toval
