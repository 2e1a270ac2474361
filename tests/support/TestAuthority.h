#pragma once
// A certificate authority of the test's own, made with OpenSSL's command line, and a server
// certificate it signed for 127.0.0.1: what a player's system store holds for a real CDN, here in
// a file that SSL_CERT_FILE names. Nothing ever turns verification off to reach a test server.

#include <string>

namespace toval::test {

class TestAuthority {
  public:
    // Writes ca.pem, server.pem and server.key into `dir`, made when missing.
    explicit TestAuthority(const std::string& dir);

    bool Made() const { return IsMade; }
    const std::string& Failure() const { return Reason; }
    std::string AuthorityCertificate() const { return Dir + "/ca.pem"; }
    std::string ServerCertificate() const { return Dir + "/server.pem"; }
    std::string ServerKey() const { return Dir + "/server.key"; }

  private:
    std::string Dir;
    bool IsMade = false;
    std::string Reason;
};

}  // namespace toval::test
