#pragma once
// A real nginx serving one directory on a free port of 127.0.0.1, with its own prefix and
// configuration in a temporary directory; stopped when the object goes. Its access log records
// every request, so tests can check what was fetched and in which order.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace toval::test {

// Serving over TLS with a certificate and its key (PEM files); HTTP/2 is offered by ALPN unless
// turned off, so a server that speaks only HTTP/1.1 can be had too.
struct NginxTls {
    std::string Certificate;
    std::string Key;
    bool Http2 = true;
};

class Nginx {
  public:
    // Serves `root`. Running() is false when nginx could not be started (the reason is in
    // Failure()).
    // With `limitRate`, every answer is sent at most that many bytes per second; with
    // `gzipStatic`, FILE.gz beside FILE is sent to a client that asks for gzip.
    explicit Nginx(const std::string& root, uint64_t limitRate = 0, bool gzipStatic = false);
    Nginx(const std::string& root, NginxTls tls);
    ~Nginx();
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    bool Running() const { return Pid > 0; }
    const std::string& Failure() const { return Reason; }
    uint16_t Port() const { return ListenPort; }
    // "http://127.0.0.1:PORT/" (https:// over TLS) followed by `path`.
    std::string Url(const std::string& path) const;
    // The decoded paths of the requests logged so far, each with its status: "/a.dat 200";
    // taken once the log has stopped growing, since nginx logs just after it has answered.
    std::vector<std::string> Requests() const;
    // How many of those requests asked for `path` ("/a.dat"), whatever their status.
    size_t Served(const std::string& path) const;
    // The same requests as "CONNECTION PATH", CONNECTION being nginx's serial number of the
    // connection that carried it: requests over one kept-alive connection share it.
    std::vector<std::string> Connections() const;
    // The same requests as "PROTOCOL PATH": "HTTP/1.0 /a.dat", "HTTP/2.0 /a.dat".
    std::vector<std::string> Protocols() const;
    // Bytes sent in answers to `path` ("/a.dat"), headers included, over every request so far
    // that was answered with `status` (0: any).
    uint64_t BytesSent(const std::string& path, int status = 0) const;
    // The directory that holds the configuration, logs and nginx's own temporary files.
    const std::string& Prefix() const { return Work.Path(); }

  private:
    bool Start(const std::string& root);
    std::vector<std::string> Log(const std::string& name) const;
    void Stop();

    TempDir Work;
    bool GzipStatic = false;
    std::optional<NginxTls> Tls;
    uint64_t LimitRate = 0;
    pid_t Pid = -1;
    uint16_t ListenPort = 0;
    std::string Reason;
};

}  // namespace toval::test
