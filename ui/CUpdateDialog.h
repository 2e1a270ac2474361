#pragma once
// The progress window: a small custom-painted dialog, its tray icon, and the host of the update
// run, whose handlers all run on this window's thread.

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>

#include "engine/CUpdateRun.h"
#include "engine/run_host.h"
#include "ui/dialog_images.h"
#include "ui/front_end.h"
#include "ui/pointer_rules.h"
#include "ui/progress_painter.h"
#include "ui/tray_animation.h"
#include "ui/window_layout.h"
#include "ui/x11_command_filter.h"

namespace toval {

class CUpdateDialog : public QDialog, public IRunHost {
    Q_OBJECT
  public:
    // Initialises the window and starts the run; the run's messages flow once a loop runs
    // (exec()).
    explicit CUpdateDialog(const StartOptions& options);
    ~CUpdateDialog() override;

    // IRunHost. Post is called from worker threads; everything else on ours.
    void Post(uint32_t message, uint32_t wParam, ITransfer* lParam) override;
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        uint32_t type) override;
    void SendUpdateResult(uint32_t callerWindow, uint32_t count) override;
    void PostQuit() override;
    void Invalidate() override;
    void ProgressHandled() override;
    void DebugOutput(const std::string& text) override;

    CUpdateRun& Run() { return *UpdateRun; }
    // Paints these figures instead of the run's (how the README's picture is drawn).
    void FreezeFigures(const PaintedFigures& figures) { Frozen = figures; }
    TrayAnimation& Tray() { return TrayIcon; }

    void done(int result) override;

    static constexpr QSize kOuterSize{layout::kOuterSize.Width, layout::kOuterSize.Height};
    static constexpr QPoint kPosition{layout::kPosition.X, layout::kPosition.Y};

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  private:
    void FitOuterSize();
    [[noreturn]] void ExitAtOnce();
    // Ends the process in order when a termination signal has arrived; returns otherwise.
    void CheckTermination();

    DialogImages Images;
    QFont TextFont;
    TrayAnimation TrayIcon;
    QTimer PumpTimer;
    QTimer RepaintTimer;
    X11CommandFilter CommandFilter;
    QSize FittedFrame;  // the frame the client size was last fitted to
    PointerRules Pointer;
    QPoint MoveOrigin;   // where the window stood when the pointer began to move it
    bool Ended = false;  // the modal run is over: messages still queued are dropped
    std::unique_ptr<CUpdateRun> UpdateRun;  // last: goes first, joining its transfers
    std::optional<PaintedFigures> Frozen;
};

}  // namespace toval
