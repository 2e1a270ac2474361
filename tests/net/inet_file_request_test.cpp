// The downloader's request and the answers it takes: what it sends, redirects followed, each
// failure's code, a certificate no one may trust, and against nginx the kept-alive connection
// and the conditional request answered 304.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "tests/support/Nginx.h"
#endif

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/CInetFile.h"
#include "tests/net/CInetFileFixture.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

using namespace std::chrono_literals;

#ifndef _WIN32
// A Windows test program cannot start openssl's test server.
// Runs a program with its output discarded; its pid, or -1 when it cannot be started.
pid_t Spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool CanConnect(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// openssl's test server with a fresh self-signed certificate, which no client may trust.
class UntrustedTlsServer {
  public:
    explicit UntrustedTlsServer(const TempDir& dir) {
        const pid_t req =
            Spawn({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                   "ec_paramgen_curve:prime256v1", "-nodes", "-subj", "/CN=127.0.0.1", "-days", "1",
                   "-keyout", dir / "key.pem", "-out", dir / "cert.pem"});
        int status = 0;
        if (req < 0 || waitpid(req, &status, 0) != req || status != 0) return;
        {
            HttpServer probe;  // a port that was free a moment ago
            Port = probe.Port();
        }
        Pid = Spawn({"openssl", "s_server", "-quiet", "-www", "-accept",
                     "127.0.0.1:" + std::to_string(Port), "-cert", dir / "cert.pem", "-key",
                     dir / "key.pem"});
        for (int i = 0; Pid > 0 && i < 100 && !CanConnect(Port); ++i)
            std::this_thread::sleep_for(50ms);
    }
    ~UntrustedTlsServer() {
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            waitpid(Pid, nullptr, 0);
        }
    }
    bool Running() const { return Pid > 0 && CanConnect(Port); }
    uint16_t Port = 0;

  private:
    pid_t Pid = -1;
};
#endif

TEST_F(CInetFileTest, SendsTheDesignedRequestAndWritesTheBody) {
    Server.Route("/update/update.xml", Response{200, "<xml/>"});
    auto t = Make(Server.Url("/update/update.xml"));
    const DrainedTransfer d = Fetch(*t);

    EXPECT_EQ(d.Code, kResultOk);
    EXPECT_EQ(d.CompleteWParam, MakeNotifyParam(1, 0));
    EXPECT_EQ(ReadFile(t->Req.TargetPath), "<xml/>");
    EXPECT_EQ(t->Received(), 6u);
    EXPECT_EQ(t->Result().ErrorText, kInitialText);

    const auto requests = Server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const Request& r = requests[0];
    EXPECT_EQ(r.Method, "GET");
    EXPECT_EQ(r.Target, "/update/update.xml");
    EXPECT_EQ(r.Version, "HTTP/1.0");
    EXPECT_EQ(r.HeaderCount("User-Agent"), 1u);
    EXPECT_EQ(r.Header("User-Agent"), "Renewer - MFC App");
    EXPECT_EQ(r.HeaderCount("Accept"), 1u);
    EXPECT_EQ(r.Header("Accept"), "*/*");
    EXPECT_EQ(r.Header("Pragma"), "no-cache");
    EXPECT_EQ(r.HeaderCount("Authorization"), 0u);
}

TEST_F(CInetFileTest, FileTransferWritesBesideTheTargetAndFollowsRedirects) {
    Response moved = Response::Redirect("/new/a%20b.dll", 301);
    moved.Body = "the body of a redirect is not the file";
    Server.Route("/old/a%20b.dll", moved);
    Server.Route("/new/a%20b.dll", Response{200, "payload"});
    // Credentials written into the URL are never sent.
    std::string url = Server.Url("/old/a b.dll");  // a space is escaped, as a browser does
    url.insert(7, "user:secret@");
    auto t = Make(url, 2, "a.dll");
    const DrainedTransfer d = Fetch(*t);

    EXPECT_EQ(d.CompleteWParam, MakeNotifyParam(2, 0));
    EXPECT_EQ(ReadFile(Dir / "a.dll.update"), "payload");
    EXPECT_FALSE(std::filesystem::exists(Dir / "a.dll"));
    const auto requests = Server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Target, "/new/a%20b.dll");
    for (const Request& r : requests) EXPECT_EQ(r.HeaderCount("Authorization"), 0u);
}

struct FailureCase {
    const char* Name;
    Response Reply;   // served at /f
    std::string Url;  // "" = the server's /f; "-" = an empty URL
    int32_t Code;
    bool TextChanges;  // Raise stores the code's text; codes 2 and 8 keep the old one
    std::string Target = "out.bin";
};

TEST_F(CInetFileTest, EachFailureEndsWithItsCode) {
    Response shortBody{200, std::string(3000, 'a')};
    shortBody.ContentLength = 10000;
    Response dropped{.Body = std::string(10000, 'b'), .CloseAfter = 3000};
    std::string refused;
    {
        HttpServer closed;
        refused = closed.Url("/f");
    }
    const FailureCase cases[] = {
        {"empty url", {}, "-", kResultEmptyUrl, true},
        {"garbage", {}, "garbage", kResultBadUrl, true},
        {"refused", {}, refused, kResultConnect, false},
        {"no host", {}, "http://", kResultBadUrl, true},
        {"ftp", {}, "ftp://127.0.0.1/f", kResultBadUrl, true},
        {"404", Response{404, "gone"}, "", kResultHttpStatus, true},
        {"500", Response{500, ""}, "", kResultHttpStatus, true},
        {"304", Response{304, ""}, "", kResultHttpStatus, true},
        {"redirect to ftp", Response::Redirect("ftp://127.0.0.1/f"), "", kResultConnect, false},
        {"redirect loop", Response::Redirect("/f"), "", kResultConnect, false},
        {"dropped mid-body", dropped, "", kResultConnect, false},
        {"short body", shortBody, "", kResultConnect, false},
        {"missing directory", Response{200, "x"}, "", kResultLocalFile, true, "no/such/dir/f"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Server.Route("/f", c.Reply);
        RecordingSink sink;
        auto t = Make(c.Url == "-" ? "" : c.Url.empty() ? Server.Url("/f") : c.Url, 1, c.Target);
        t->Sink = &sink;
        const DrainedTransfer d = FetchToEnd(*t, sink);
        EXPECT_EQ(d.Code, c.Code);
        EXPECT_EQ(HighWord(d.CompleteWParam), 1u);
        EXPECT_EQ(t->Result().ErrorText, c.TextChanges ? ResultCodeText(c.Code) : kInitialText);
        if (c.Code == kResultHttpStatus) {
            EXPECT_FALSE(std::filesystem::exists(t->Req.TargetPath));
        }
    }
}

#ifndef _WIN32
// openssl's test server runs on Linux only.
TEST_F(CInetFileTest, UntrustedCertificateIsCode2) {
    UntrustedTlsServer tls(Dir);
    if (!tls.Running()) GTEST_SKIP() << "openssl cannot serve TLS here";
    auto t = Make("https://127.0.0.1:" + std::to_string(tls.Port) + "/f");
    EXPECT_EQ(Fetch(*t).Code, kResultConnect);
    EXPECT_FALSE(std::filesystem::exists(t->Req.TargetPath));
}
#endif

#ifndef _WIN32
// Played against nginx, which a Windows test program cannot start: kept-alive connections and
// real validators.
TEST_F(CInetFileTest, ConsecutiveTransfersToOneServerShareAConnection) {
    TempDir site;
    for (const char* name : {"a", "b", "c"}) site.Write(name, std::string(3000, name[0]));
    Nginx web(site.Path());
    ASSERT_TRUE(web.Running()) << web.Failure();
    for (const char* name : {"a", "b", "c"}) {
        auto t = Make(web.Url(name), 2, name);
        ASSERT_EQ(Fetch(*t).Code, kResultOk) << name;
    }
    // Each transfer runs on a thread of its own; the connection cache they share carries them
    // all over the one connection the first opened.
    const std::vector<std::string> log = web.Connections();
    ASSERT_EQ(log.size(), 3u);
    const std::string first = log[0].substr(0, log[0].find(' '));
    EXPECT_EQ(log, (std::vector<std::string>{first + " /a", first + " /b", first + " /c"}));
}

TEST_F(CInetFileTest, AConditionalRequestAnswered304WritesNothing) {
    TempDir site;
    site.Write("update.xml", "catalogue");
    Nginx web(site.Path());
    ASSERT_TRUE(web.Running()) << web.Failure();
    auto first = Make(web.Url("update.xml"));
    ASSERT_EQ(Fetch(*first).Code, kResultOk);
    ASSERT_FALSE(first->Result().ETag.empty());
    ASSERT_FALSE(first->Result().LastModified.empty());

    struct Case {
        std::string IfNoneMatch, IfModifiedSince;
        bool NotModified;
    };
    const Case cases[] = {
        {first->Result().ETag, "", true},
        {"", first->Result().LastModified, true},
        {"\"another\"", "", false},
        {first->Result().ETag + "\r\nX-Injected: 1", "", false},  // not sent: the request is plain
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.IfNoneMatch + " | " + c.IfModifiedSince);
        std::filesystem::remove(Dir / "out.bin");
        auto t = Make(web.Url("update.xml"));
        t->Req.IfNoneMatch = c.IfNoneMatch;
        t->Req.IfModifiedSince = c.IfModifiedSince;
        EXPECT_EQ(Fetch(*t).Code, kResultOk);
        EXPECT_EQ(t->Result().NotModified, c.NotModified);
        EXPECT_TRUE(ReadFileIfAny(Dir / "out.bin") ==
                    (c.NotModified ? std::nullopt : std::optional<std::string>("catalogue")));
    }
    EXPECT_EQ(web.Requests(),
              (std::vector<std::string>{"/update.xml 200", "/update.xml 304", "/update.xml 304",
                                        "/update.xml 200", "/update.xml 200"}));
    // A 304 nobody asked for is still no file.
    Server.Route("/plain", Response{304});
    EXPECT_EQ(Fetch(*Make(Server.Url("/plain"))).Code, kResultHttpStatus);
}
#endif

}  // namespace
}  // namespace toval::test
