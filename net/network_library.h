#pragma once
// libcurl's global state has one owner: whoever runs transfers (the application, a test program,
// a benchmark) holds a NetworkLibrary for as long as transfers may run, created before any other
// thread starts, as libcurl requires. Transfers never start it themselves.
//
// It also holds the network loop that drives every transfer, so consecutive files from one
// server share its connections instead of paying a connect (and, far from the server, its round
// trips) for every file.

#include <memory>
#include <string>

typedef void CURL;

namespace toval {

class NetworkLoop;

class NetworkLibrary {
  public:
    NetworkLibrary();
    // Stops the loop, then cleans up when the start succeeded.
    ~NetworkLibrary();
    NetworkLibrary(const NetworkLibrary&) = delete;
    NetworkLibrary& operator=(const NetworkLibrary&) = delete;

    bool Started() const { return IsStarted; }
    // Whether the library was built with zlib and so can decode a gzip body.
    static bool DecodesGzip();

    // The loop of the library now held; null when none is (transfers then cannot run).
    static NetworkLoop* Loop();
    // Points `easy` at the certificates SSL_CERT_FILE and SSL_CERT_DIR name, as the curl tool
    // and OpenSSL's own programs honour them (the system's store otherwise); false when libcurl
    // refuses. Verification itself is never turned off.
    static bool TrustFrom(CURL* easy);

  private:
    bool IsStarted = false;
    std::unique_ptr<NetworkLoop> OwnLoop;
};

}  // namespace toval
