#pragma once
// The application object: starts the services the run needs, reads the command line and hands
// the run to a front end.

#include <functional>
#include <optional>
#include <string>

#include "net/network_library.h"

namespace toval {

class CUpdaterApp {
  public:
    // The whole life of the process; returns its exit status.
    int Run(int argc, char** argv);

    // Shown when the network services cannot be started.
    static constexpr const char* kSocketStartupFailed = "Windows 套接字初始化失败。";

    // Starts the network library; replaceable so that its failure, which no real machine
    // produces on demand, can be tested.
    std::function<bool()> StartNetwork = [this] {
        Network.emplace();
        return Network->Started();
    };

  private:
    bool InitInstance();
    void ExitInstance();

    std::optional<NetworkLibrary> Network;
};

}  // namespace toval
