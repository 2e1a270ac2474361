// Over https:// the updater offers HTTP/2 and, where the server takes it, fetches many files at
// once over one connection; a server that speaks only HTTP/1.1 is served as before. It trusts the
// authorities SSL_CERT_FILE names (the system's store otherwise), never a certificate nobody
// vouches for.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestAuthority.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 60;

class Https : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        for (const char* d : {"home", "tmp", "client", "server/c", "work", "ca"})
            fs::create_directories(Root / d);
        ASSERT_TRUE(Authority.Made()) << Authority.Failure();
        Web.emplace(Root / "server",
                    NginxTls{Authority.ServerCertificate(), Authority.ServerKey(), GetParam()});
        ASSERT_TRUE(Web->Running()) << Web->Failure();
        Updater = InstallUpdater(Root / "client");
        for (int i = 0; i < kFiles; ++i)
            Root.Write("server/c/f" + std::to_string(i) + ".dat", std::string(3000 + i, 'a'));
        const ProcessResult made =
            RunProcess(std::string(TOVAL_BIN_DIR) + "/toval-catalog",
                       {"-o", Root / "server/update.xml", Root / "server/c", Web->Url("c")},
                       {{"PATH", "/usr/bin:/bin"}}, Root / "work");
        ASSERT_EQ(made.ExitStatus, 0) << made.Err;
    }
    ProcessResult Update(bool trusted) {
        auto env = UpdaterEnvironment(Root.Path());
        // Under Wine the Windows updater sees this file system as drive Z:.
        if (trusted)
            env["SSL_CERT_FILE"] =
                (TestingWindowsUpdater() ? "Z:" : "") + Authority.AuthorityCertificate();
        return RunProcess(Updater, {"--console", Web->Url("update.xml") + ",0"}, env,
                          Root / "work");
    }
    // The connections nginx served the files over.
    std::set<std::string> FileConnections() const {
        std::set<std::string> ids;
        for (const std::string& line : Web->Connections())
            if (line.find("/c/") != std::string::npos) ids.insert(line.substr(0, line.find(' ')));
        return ids;
    }

    TempDir Root;
    TestAuthority Authority{Root / "ca"};
    std::optional<Nginx> Web;
    std::string Updater;
};

TEST_P(Https, EveryFileArrivesOverHttp2OnOneConnectionOrOverHttp11AsBefore) {
    // The refusal below runs under Wine too; a server vouched for by a file of authorities does
    // not: the Windows updater's Schannel, under Wine, reaches none with SSL_CERT_FILE set.
    if (TestingWindowsUpdater()) GTEST_SKIP() << "Wine's Schannel does not check against a file";
    const bool http2 = GetParam();
    const ProcessResult r = Update(true);
    ASSERT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    for (int i = 0; i < kFiles; ++i)
        ASSERT_EQ(fs::file_size(Root / ("client/f" + std::to_string(i) + ".dat")), 3000u + i);
    const std::vector<std::string> protocols = Web->Protocols();
    ASSERT_EQ(protocols.size(), kFiles + 1u);
    for (const std::string& line : protocols)
        EXPECT_EQ(line.substr(0, line.find(' ')), http2 ? "HTTP/2.0" : "HTTP/1.1") << line;
    if (http2) {
        EXPECT_EQ(FileConnections().size(), 1u);
    } else {
        // As over http://: a few kept-alive connections, never one per file.
        EXPECT_LE(FileConnections().size(), 5u);
    }
    // The publisher's check trusts the same authority the same way, many questions at once.
    const ProcessResult check = RunProcess(
        std::string(TOVAL_BIN_DIR) + "/toval-catalog", {"--check", Web->Url("update.xml")},
        {{"PATH", "/usr/bin:/bin"}, {"SSL_CERT_FILE", Authority.AuthorityCertificate()}},
        Root / "work");
    EXPECT_EQ(check.ExitStatus, 0) << check.Out << check.Err;
    EXPECT_NE(check.Out.find(std::to_string(kFiles) + " of " + std::to_string(kFiles)),
              std::string::npos)
        << check.Out;
}

TEST_P(Https, ACertificateNoTrustedAuthoritySignedIsRefused) {
    // Under Wine the Windows updater's Schannel checks no server certificate in the automatic
    // validation libcurl leaves to it (this certificate, which no authority it trusts signed, is
    // accepted, over HTTP/2 or not), and with a file of authorities it reaches no server at all.
    // On Windows, Schannel's own validation decides.
    if (TestingWindowsUpdater()) GTEST_SKIP() << "Wine's Schannel is no judge of trust here";
    const ProcessResult r = Update(false);
    EXPECT_EQ(r.ExitStatus, 1) << r.Out << r.Err;
    EXPECT_TRUE(Web->Requests().empty());
    EXPECT_FALSE(fs::exists(Root / "client/f0.dat"));
}

INSTANTIATE_TEST_SUITE_P(Server, Https, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Http2" : "Http11Only"; });

}  // namespace
}  // namespace toval::test
