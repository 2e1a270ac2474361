#pragma once
// libcurl's global state has one owner: whoever runs transfers (the application, a test program,
// a benchmark) holds a NetworkLibrary for as long as transfers may run, created before any other
// thread starts, as libcurl requires. Transfers never start it themselves.
//
// It also holds the connection cache that transfers share: consecutive transfers to one server
// reuse one connection instead of paying a connect (and, far from the server, its round trips)
// for every file.

typedef void CURLSH;

namespace toval {

class NetworkLibrary {
  public:
    NetworkLibrary();
    // Cleans up when the start succeeded.
    ~NetworkLibrary();
    NetworkLibrary(const NetworkLibrary&) = delete;
    NetworkLibrary& operator=(const NetworkLibrary&) = delete;

    bool Started() const { return IsStarted; }
    // Whether the library was built with zlib and so can decode a gzip body.
    static bool DecodesGzip();

    // The shared connection cache of the library now held; null when none is (a transfer then
    // uses connections of its own).
    static CURLSH* SharedConnections();

  private:
    bool IsStarted = false;
    CURLSH* Share = nullptr;
};

}  // namespace toval
