#pragma once
// A TCP port on the loopback that takes connections into its backlog and never answers: a
// catalogue transfer to it stays running, and the window that hosts it stays open.

#include <cstdint>
#include <string>

namespace toval::test {

class SilentServer {
  public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    std::string Url(const std::string& path) const;

  private:
    uintptr_t Socket;
    int Port = 0;
};

}  // namespace toval::test
