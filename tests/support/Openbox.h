#pragma once
// A real window manager for tests: openbox on a given X server, with a configuration of its own
// in a private directory, so that nothing on the machine (a user's or the system's openbox
// files, a session manager) changes how it behaves. Stopped when the object goes.
//
//     XvfbSession x(XvfbSession::WithTray);
//     Openbox wm(x.Display());
//     ASSERT_TRUE(wm.Running()) << wm.Failure();

#include <sys/types.h>

#include <string>

#include "tests/support/TempDir.h"

namespace toval::test {

class Openbox {
  public:
    explicit Openbox(const std::string& display);
    ~Openbox();
    Openbox(const Openbox&) = delete;
    Openbox& operator=(const Openbox&) = delete;

    bool Running() const { return Pid > 0 && Reason.empty(); }
    const std::string& Failure() const { return Reason; }

  private:
    TempDir Home;
    pid_t Pid = -1;
    std::string Reason;
};

}  // namespace toval::test
