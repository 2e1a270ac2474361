#pragma once
// The progress window: a small custom-painted dialog and its tray icon, the Qt front end of a run
// session. It paints and turns Qt's events into the session's calls; what they mean is the
// session's (ui/run_session.h).

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>

#include "ui/dialog_images.h"
#include "ui/front_end.h"
#include "ui/progress_painter.h"
#include "ui/run_session.h"
#include "ui/tray_animation.h"
#include "ui/window_layout.h"
#include "ui/x11_command_filter.h"

namespace toval {

class CUpdateDialog : public QDialog, public ISessionFrontEnd {
    Q_OBJECT
  public:
    // Initialises the window and starts the run; the run's messages flow once a loop runs
    // (exec()).
    explicit CUpdateDialog(const StartOptions& options);
    ~CUpdateDialog() override;

    RunSession& Session() { return *RunHost; }
    CUpdateRun& Run() { return RunHost->Run(); }
    // Paints these figures instead of the run's (how the README's picture is drawn).
    void FreezeFigures(const PaintedFigures& figures) { Frozen = figures; }
    TrayAnimation& Tray() { return TrayIcon; }

    void done(int result) override;

    static constexpr QSize kOuterSize{layout::kOuterSize.Width, layout::kOuterSize.Height};
    static constexpr QPoint kPosition{layout::kPosition.X, layout::kPosition.Y};

    // ISessionFrontEnd. WakeUp is called from worker threads; everything else on ours.
    bool WakeUp() override;
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        uint32_t type) override;
    uint32_t OwnWindowId() const override;
    void EndLoop() override;
    void Invalidate() override { update(); }
    void ProgressHandled() override;
    void LeaveScreen() override { TrayIcon.Remove(); }

  protected:
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

    DialogImages Images;
    QFont TextFont;
    TrayAnimation TrayIcon;
    QTimer PumpTimer;
    QTimer RepaintTimer;
    X11CommandFilter CommandFilter;
    QSize FittedFrame;  // the frame the client size was last fitted to
    QPoint MoveOrigin;  // where the window stood when the pointer began to move it
    std::optional<PaintedFigures> Frozen;
    std::unique_ptr<RunSession> RunHost;  // last: goes first, joining its transfers
};

}  // namespace toval
