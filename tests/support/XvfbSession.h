#pragma once
// A private X server for tests: Xvfb on a free display number (Xvfb picks it and reports it
// through -displayfd), optionally with `trayer`, a real XEmbed system tray, running on it. Both
// are stopped when the object goes.
//
//     XvfbSession x(XvfbSession::WithTray);
//     ASSERT_TRUE(x.Running()) << x.Failure();
//     setenv("DISPLAY", x.Display().c_str(), 1);

#include <sys/types.h>

#include <chrono>
#include <string>

namespace toval::test {

class XvfbSession {
  public:
    enum Tray { WithoutTray, WithTray };

    explicit XvfbSession(Tray tray = WithTray);
    ~XvfbSession();
    XvfbSession(const XvfbSession&) = delete;
    XvfbSession& operator=(const XvfbSession&) = delete;

    bool Running() const { return XvfbPid > 0 && Reason.empty(); }
    const std::string& Failure() const { return Reason; }
    const std::string& Display() const { return Name; }  // ":N"

    // True once some program owns the tray selection of screen 0.
    bool TrayReady() const;

  private:
    bool StartXvfb();
    bool StartTray();

    pid_t XvfbPid = -1;
    pid_t TrayPid = -1;
    std::string Name;
    std::string Reason;
};

// Runs `argv` with DISPLAY set to `display` and its output discarded; -1 when it cannot start.
pid_t SpawnOnDisplay(const std::string& display, const char* const argv[]);

// Sends SIGTERM and waits for the process; SIGKILL when it ignores that for `grace`.
void StopProcess(pid_t pid, std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

}  // namespace toval::test
