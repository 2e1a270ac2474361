#pragma once
// libcurl's global state has one owner: whoever runs transfers (the application, a test program,
// a benchmark) holds a NetworkLibrary for as long as transfers may run, created before any other
// thread starts, as libcurl requires. Transfers never start it themselves.

namespace toval {

class NetworkLibrary {
  public:
    NetworkLibrary();
    // Cleans up when the start succeeded.
    ~NetworkLibrary();
    NetworkLibrary(const NetworkLibrary&) = delete;
    NetworkLibrary& operator=(const NetworkLibrary&) = delete;

    bool Started() const { return IsStarted; }

  private:
    bool IsStarted = false;
};

}  // namespace toval
