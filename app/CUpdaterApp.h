#pragma once
// The application object: starts the services the run needs, reads the command line and hands
// the run to a front end.

#include <string>

namespace toval {

class CUpdaterApp {
  public:
    // The whole life of the process; returns its exit status.
    int Run(int argc, char** argv);

    // Shown when the network services cannot be started.
    static constexpr const char* kSocketStartupFailed = "Windows 套接字初始化失败。";

  private:
    bool InitInstance();
    void ExitInstance();

    bool NetworkStarted = false;
};

}  // namespace toval
