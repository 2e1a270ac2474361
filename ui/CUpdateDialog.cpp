#include "ui/CUpdateDialog.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>

#include "engine/status_texts.h"
#include "ui/run_display.h"
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
                    [this](uint32_t id) { RunHost->Post(kCommandMessage, id, nullptr); }),
      RunHost(std::make_unique<RunSession>(*this, options)) {
    // The whole client area is painted every time; erasing it first would only flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);

    setWindowIcon(Images.AppIcon);
    move(kPosition);
    resize(kOuterSize);
    setWindowTitle(QString::fromUtf8(kWindowTitle.data(), qsizetype(kWindowTitle.size())));
    TrayIcon.Add();

    PumpTimer.setInterval(kTimerPeriodMs);
    RepaintTimer.setInterval(kTimerPeriodMs);
    connect(&PumpTimer, &QTimer::timeout, this, [this] { RunHost->Tick(WM_TIMER_PUMP); });
    connect(&RepaintTimer, &QTimer::timeout, this, [this] { RunHost->Tick(WM_TIMER_REPAINT); });
    PumpTimer.start();
    RepaintTimer.start();

    QCoreApplication::instance()->installNativeEventFilter(&CommandFilter);
    RunHost->Start();
}

CUpdateDialog::~CUpdateDialog() {
    QCoreApplication::instance()->removeNativeEventFilter(&CommandFilter);
    PumpTimer.stop();
    RepaintTimer.stop();
    TrayIcon.Remove();
    // Cancels and joins the transfers before the window they post to goes away.
    RunHost.reset();
}

bool CUpdateDialog::WakeUp() {
    // Qt drops the call when the window has gone meanwhile.
    return QMetaObject::invokeMethod(
        this, [this] { RunHost->DeliverPosted(); }, Qt::QueuedConnection);
}

void CUpdateDialog::ShowMessageBox(const std::string& text, const std::string& caption,
                                   uint32_t type) {
    const QString title = caption.empty() ? QGuiApplication::applicationDisplayName()
                                          : QString::fromStdString(caption);
    // No parent: the window itself lies off screen, and the box must be seen.
    QMessageBox box(BoxIcon(type), title, QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

uint32_t CUpdateDialog::OwnWindowId() const { return static_cast<uint32_t>(winId()); }

void CUpdateDialog::EndLoop() {
    // Ends the modal loop after the handler that asked has returned.
    QMetaObject::invokeMethod(
        this, [this] { done(0); }, Qt::QueuedConnection);
}

void CUpdateDialog::ProgressHandled() {
    TrayIcon.Step(QString::fromStdString(CurrentTrayTip(RunHost->Run())));
}

void CUpdateDialog::done(int result) {
    if (RunHost->Ended()) return;
    RunHost->EndWindow();
    PumpTimer.stop();
    RepaintTimer.stop();
    TrayIcon.Remove();
    QDialog::done(result);
}

void CUpdateDialog::paintEvent(QPaintEvent*) {
    RunHost->DebugOutput("OnPaint");
    QPainter painter(this);
    PaintProgress(painter, size(), Images.Background, Images.Bar, TextFont,
                  Frozen ? *Frozen : CurrentFigures(RunHost->Run()));
}

void CUpdateDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        RunHost->PointerPressed(ClientPoint(event), ScreenPoint(event));
    QDialog::mousePressEvent(event);
}

void CUpdateDialog::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) RunHost->PointerReleased(ClientPoint(event));
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
    const PointerStep step = RunHost->PointerMoved(ClientPoint(event), ScreenPoint(event),
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
    const KeyName key = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter
                            ? KeyName::Enter
                        : event->key() == Qt::Key_Escape ? KeyName::Escape
                                                         : KeyName::Other;
    // The keypad's Enter is the same key, not a modified one.
    if (RunSession::KeyEndsWindow(key, (event->modifiers() & ~Qt::KeypadModifier) != 0)) {
        reject();
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

}  // namespace toval
