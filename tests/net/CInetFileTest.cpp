#include "net/CInetFile.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "tests/support/Nginx.h"
#endif

#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <thread>
#include <vector>

#include "net/update_path.h"
#include "platform/crypto.h"
#include "tests/net/Fetcher.h"
#include "tests/net/RecordingSink.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kInitialText = "连接服务器失败, 请检查网络或联系客服人员";

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

std::optional<std::string> ReadFileIfAny(const std::string& path) {
    if (!std::filesystem::exists(FromUtf8(path))) return std::nullopt;
    return ReadFile(path);
}

class CInetFileTest : public ::testing::Test {
  protected:
    std::unique_ptr<Fetcher> Make(const std::string& url, int32_t kind = 1,
                                  const std::string& name = "out.bin") {
        auto t = std::make_unique<Fetcher>();
        t->Req.URL = url;
        t->Req.Kind = kind;
        t->Req.TargetPath = Dir / name;
        t->Sink = &Sink;
        return t;
    }

    // Starts the transfer, handles its messages like the run would, and joins it.
    DrainedTransfer Fetch(Fetcher& t) {
        const DrainedTransfer d = FetchToEnd(t, Sink);
        EXPECT_EQ(Sink.Pending(), 0u) << "messages after the completion";
        return d;
    }

    TempDir Dir;
    HttpServer Server;
    RecordingSink Sink;
};

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
// libstdc++ makes no symbolic links on Windows, and Wine 8's CreateSymbolicLinkW makes none
// either, so the Windows side (a reparse point refused) cannot be played here.
TEST_F(CInetFileTest, ALinkWhereTheDownloadGoesIsNotFollowed) {
    Server.Route("/a.dll", Response{200, "new contents"});
    const std::string victim = Dir.Write("elsewhere.txt", "must stay");
    std::filesystem::create_symlink(victim, Dir / "a.dll.update");
    auto t = Make(Server.Url("/a.dll"), 2, "a.dll");
    EXPECT_EQ(Fetch(*t).Code, kResultLocalFile);
    EXPECT_EQ(ReadFile(victim), "must stay");
}
#endif

TEST_F(CInetFileTest, NotFoundLeavesAnEarlierUpdateFileAsItWas) {
    Server.Route("/a.dll", Response{404, "missing"});
    Dir.Write("a.dll.update", "from an earlier run");
    auto t = Make(Server.Url("/a.dll"), 2, "a.dll");
    const DrainedTransfer d = Fetch(*t);
    EXPECT_EQ(d.CompleteWParam, MakeNotifyParam(2, kResultHttpStatus));
    EXPECT_EQ(ReadFile(Dir / "a.dll.update"), "from an earlier run");
}

TEST_F(CInetFileTest, EmptyBodyCreatesAnEmptyFileWithoutProgress) {
    Server.Route("/empty", Response{200, ""});
    Dir.Write("out.bin", "stale");
    auto t = Make(Server.Url("/empty"));
    const DrainedTransfer d = Fetch(*t);
    EXPECT_EQ(d.Code, kResultOk);
    EXPECT_EQ(d.ProgressMessages, 0u);
    EXPECT_TRUE(std::filesystem::exists(t->Req.TargetPath));
    EXPECT_EQ(std::filesystem::file_size(t->Req.TargetPath), 0u);
}

TEST_F(CInetFileTest, OneKilobyteIsOneChunk) {
    Server.Route("/k", Response{200, GeneratedBody(1024)});
    auto t = Make(Server.Url("/k"));
    const DrainedTransfer d = Fetch(*t);
    EXPECT_EQ(d.Code, kResultOk);
    EXPECT_EQ(d.ProgressMessages, 1u);
    EXPECT_EQ(d.FirstChunk, 1024u);
    EXPECT_EQ(d.ProgressBytes, 1024u);
}

TEST_F(CInetFileTest, CoalescedProgressSumsExactlyAndPrecedesTheCompletion) {
    constexpr uint64_t kLength = 6 * 1024 * 1024 + 333;
    Server.Route("/big", Response{.GeneratedLength = kLength});
    auto t = Make(Server.Url("/big"), 2, "big");
    const DrainedTransfer d = Fetch(*t);
    EXPECT_EQ(d.Code, kResultOk);
    EXPECT_EQ(d.ProgressBytes, kLength);
    EXPECT_EQ(t->Received(), kLength);
    EXPECT_GE(d.ProgressMessages, 1u);
    EXPECT_LE(d.FirstChunk, 1024u);
    EXPECT_TRUE(ReadFile(Dir / "big.update") == GeneratedBody(kLength));
}

TEST_F(CInetFileTest, WithoutNotifyWindowNothingIsPosted) {
    Server.Route("/f", Response{200, "quiet"});
    auto t = Make(Server.Url("/f"));
    t->Sink = nullptr;
    ASSERT_TRUE(t->Start());
    t->Join();
    t->Join();  // a second join returns at once
    EXPECT_EQ(ReadFile(t->Req.TargetPath), "quiet");
    EXPECT_EQ(Sink.Pending(), 0u);
}

TEST_F(CInetFileTest, CancelBeforeStartIsForgotten) {
    Server.Route("/f", Response{200, "kept"});
    auto t = Make(Server.Url("/f"));
    t->Cancel();
    EXPECT_EQ(Fetch(*t).Code, kResultOk);
}

TEST_F(CInetFileTest, CancelAfterTheFirstChunkIsCode8AndKeepsWhatWasWritten) {
    // The server holds the rest of the body back, so the transfer cannot end on its own before
    // the cancel is seen, however slowly this thread gets to set it.
    Server.Route("/big", Response{.GeneratedLength = 64 * 1024 * 1024, .StallAfter = 256 * 1024});
    auto t = Make(Server.Url("/big"));
    ASSERT_TRUE(t->Start());
    const DrainedTransfer d = Sink.Drain(20s, [&](const PostedMessage&) { t->Cancel(); });
    t->Join();
    EXPECT_EQ(d.Code, kResultCancelled);
    EXPECT_EQ(t->Result().ErrorText, kInitialText);
    EXPECT_EQ(d.ProgressBytes, t->Received());
    EXPECT_LT(t->Received(), 64u * 1024 * 1024);
    EXPECT_EQ(std::filesystem::file_size(t->Req.TargetPath), t->Received());
}

TEST_F(CInetFileTest, StallEndsWithinTheRateWindowAndCancelDoesNotWaitForIt) {
    Server.Route("/stall", Response{.Body = std::string(4096, 's'), .StallAfter = 1024});
    Server.Route("/silent", Response{.Body = "x", .StallBeforeHeaders = true});
    for (const char* path : {"/stall", "/silent"}) {
        SCOPED_TRACE(path);
        auto t = Make(Server.Url(path));
        t->Req.RateWindow = 300ms;
        t->Req.RateGrace = 0ms;
        const auto start = Clock::now();
        EXPECT_EQ(Fetch(*t).Code, kResultConnect);
        const auto took = Clock::now() - start;
        EXPECT_GE(took, 300ms);
        EXPECT_LT(took, 3s);
    }

    auto t = Make(Server.Url("/stall"));
    const auto start = Clock::now();
    ASSERT_TRUE(t->Start());
    const DrainedTransfer d = Sink.Drain(20s, [&](const PostedMessage&) { t->Cancel(); });
    EXPECT_EQ(d.Code, kResultCancelled);
    EXPECT_LT(Clock::now() - start, 3s);
}

TEST_F(CInetFileTest, BytesHeldBackAreReportedWhileTheBodyStalls) {
    // The first piece is reported at once; the next two arrive within the progress interval and
    // wait for it, and then the server goes silent.
    Server.Route("/stall", Response{.Body = std::string(8192, 's'),
                                    .StallAfter = 3000,
                                    .TricklePiece = 1000,
                                    .TrickleGap = 2ms});
    auto t = Make(Server.Url("/stall"));
    ASSERT_TRUE(t->Start());
    uint64_t seen = 0;
    while (seen < 3000) {
        const auto m = Sink.Next(5s);
        ASSERT_TRUE(m.has_value()) << "only " << seen << " bytes reported";
        ASSERT_EQ(m->Message, WM_DOWNLOAD_PROGRESS);
        seen += t->TakeProgress();
    }
    EXPECT_EQ(seen, 3000u);
    t->Cancel();
    EXPECT_EQ(Sink.Drain().Code, kResultCancelled);
}

TEST_F(CInetFileTest, WithoutATargetNothingIsWritten) {
    Server.Route("/f", Response{200, "x"});
    auto t = Make(Server.Url("/f"), 2);
    t->Req.TargetPath.clear();
    EXPECT_EQ(Fetch(*t).Code, kResultLocalFile);
    EXPECT_FALSE(std::filesystem::exists(".update"));
}

TEST_F(CInetFileTest, DestroyingARunningTransferCancelsAndJoinsIt) {
    Server.Route("/stall", Response{.Body = std::string(4096, 's'), .StallAfter = 0});
    auto t = Make(Server.Url("/stall"));
    ASSERT_TRUE(t->Start());
    ASSERT_TRUE(Server.WaitForRequests(1, 10s));
    const auto start = Clock::now();
    t.reset();
    EXPECT_LT(Clock::now() - start, 3s);
    const auto m = Sink.Next(0ms);  // already posted: the worker has ended
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->Message, WM_DOWNLOAD_COMPLETE);
    EXPECT_EQ(LowWord(m->WParam), static_cast<uint32_t>(kResultCancelled));
}

#ifndef _WIN32
// A full disk is played with a file size limit, which Windows does not have.
TEST_F(CInetFileTest, AFullDiskEndsWithCode7AndRemovesThePartialUpdateFile) {
    Server.Route("/big", Response{.GeneratedLength = 2 * 1024 * 1024});
    auto t = Make(Server.Url("/big"), 2, "big");
    // The file size limit is process-wide: set it only around this transfer, and restore it.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    ASSERT_TRUE(t->Start());
    t->Join();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    const DrainedTransfer d = Sink.Drain(1s);
    EXPECT_EQ(d.Code, kResultLocalFile);
    EXPECT_EQ(t->Result().ErrorText, ResultCodeText(kResultLocalFile));
    EXPECT_FALSE(std::filesystem::exists(Dir / "big.update"));
}
#endif

struct LengthCase {
    const char* Name;
    Response Reply;
    int32_t Code;
    uint64_t Received;                  // bytes written and reported
    std::optional<std::string> Left{};  // the ".update" file afterwards; nullopt: none
    uint64_t MaxLength = 0;
    bool Resume = false;  // the caller holds the run lock
};

TEST_F(CInetFileTest, ABodyOfTheWrongLengthIsCode10AndLeavesNoUpdateFile) {
    const std::string k = GeneratedBody(1000);
    const Response endless{.GeneratedLength = 16 << 20, .OmitContentLength = true};
    Response tagged{.Body = k, .CloseAfter = 300};
    tagged.Headers = {{"ETag", "\"v1\""}};
    const LengthCase cases[] = {
        {"exact, unannounced", Response{.Body = k, .OmitContentLength = true}, kResultOk, 1000, k},
        {"cut short, unannounced", Response{.Body = k.substr(0, 600), .OmitContentLength = true},
         kResultLength, 600},
        {"one byte short, unannounced",
         Response{.Body = k.substr(0, 999), .OmitContentLength = true}, kResultLength, 999},
        {"error page", Response{200, "<html>busy</html>"}, kResultLength, 0},
        {"endless", endless, kResultLength, 1000},
        {"endless, capped", endless, kResultLength, 100, std::nullopt, 100},
        // A partial is kept only where a later run can continue it: under the run lock, from a
        // server that gave a validator, and for a file long enough to be worth it.
        {"dropped", Response{.Body = k, .CloseAfter = 300}, kResultConnect, 300},
        {"dropped, too short to continue", tagged, kResultConnect, 300, std::nullopt, 0, true},
        {"another writer's", Response{200, k}, kResultLocalFile, 0, "theirs"},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove(Dir / "a.dll.update");
        if (c.Code == kResultLocalFile) Dir.Write("a.dll.update", "theirs");
        Server.Route("/a.dll", c.Reply);
        auto t = Make(Server.Url("/a.dll"), 2, "a.dll");
        t->Req.ExpectedLength = 1000;
        t->Req.MaxLength = c.MaxLength;
        t->Req.Resume = c.Resume;
        const DrainedTransfer d = Fetch(*t);
        EXPECT_EQ(d.Code, c.Code);
        if (c.Code == kResultLength) {
            EXPECT_EQ(t->Result().ErrorText, "下载的文件长度不正确");
        }
        EXPECT_EQ(t->Received(), c.Received);
        EXPECT_EQ(d.ProgressBytes, c.Received);
        EXPECT_TRUE(ReadFileIfAny(Dir / "a.dll.update") == c.Left);
    }
}

TEST_F(CInetFileTest, ABodyWithAnotherDigestIsCode11AndLeavesNoUpdateFile) {
    // Large enough to arrive in many pieces, each of which must be hashed once; with its length
    // known it is also large enough to be hashed beside the download, on a thread of its own.
    const std::string body = GeneratedBody(5 << 20);
    Sha256 hash;
    hash.Update(body);
    const std::string digest = ToHex(hash.Final()->data(), 32);
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    std::string other = digest;
    other[63] = other[63] == '0' ? '1' : '0';

    struct DigestCase {
        const char* Name;
        std::string Sha256;
        int32_t Code;
        bool Fetched;
    };
    const DigestCase cases[] = {
        {"lower case", digest, kResultOk, true},
        {"upper case", upper, kResultOk, true},
        {"another digest", other, kResultContent, true},
        {"too short", digest.substr(1), kResultContent, false},
        {"not hexadecimal", digest.substr(1) + "g", kResultContent, false},
    };
    Server.Route("/a.dll", Response{200, body});
    for (const DigestCase& c : cases)
        for (const uint64_t length : {uint64_t{0}, uint64_t{body.size()}}) {
            SCOPED_TRACE(std::string(c.Name) + (length ? ", length known" : ""));
            std::filesystem::remove(Dir / "a.dll.update");
            const size_t before = Server.Requests().size();
            auto t = Make(Server.Url("/a.dll"), 2, "a.dll");
            t->Req.Sha256 = c.Sha256;
            t->Req.ExpectedLength = length;
            const DrainedTransfer d = Fetch(*t);
            EXPECT_EQ(d.Code, c.Code);
            EXPECT_EQ(Server.Requests().size() - before, c.Fetched ? 1u : 0u);
            if (c.Code == kResultOk) {
                EXPECT_TRUE(ReadFileIfAny(Dir / "a.dll.update") == body);
            } else {
                EXPECT_EQ(t->Result().ErrorText, "下载的文件内容不正确");
                EXPECT_FALSE(std::filesystem::exists(Dir / "a.dll.update"));
            }
        }
}

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

TEST(UpdateFilePath, NamesThatFitGetTheSuffixAndLongerOnesAShortUniqueName) {
    std::string chinese;  // 85 characters of three bytes each
    for (int i = 0; i < 85; ++i) chinese += "新";
    const std::string a249(249, 'a');
    // The part kept before "~", the name's hash and ".update"; "" when the name fits as it is.
    const std::pair<std::string, std::string> cases[] = {
        {"/c/" + std::string(248, 'a'), ""},
        {"/c/" + a249, "/c/" + a249.substr(0, 200)},
        {"/c/" + chinese.substr(0, 249), "/c/" + chinese.substr(0, 198)},  // whole characters
    };
    for (const auto& [target, kept] : cases) {
        const std::string path = UpdateFilePath(target);
        const std::string rest = path.substr(std::min(path.size(), kept.size()));
        EXPECT_EQ(path.substr(0, kept.size()), kept);
        EXPECT_TRUE(kept.empty() ? path == target + ".update"
                                 : std::regex_match(rest, std::regex("~[0-9a-f]{16}\\.update")))
            << path;
    }
    EXPECT_NE(UpdateFilePath(a249 + "x"), UpdateFilePath(a249 + "y"));
}

#ifndef _WIN32
// Windows files have no permission bits.
TEST_F(CInetFileTest, AFinishedUpdateFileGetsItsModeEvenUnderAShortenedName) {
    Server.Route("/f", Response{200, "payload"});
    std::string longName;
    for (int i = 0; i < 85; ++i) longName += "新";
    for (const auto& [name, mode] : {std::pair{std::string("a.dll"), 0755u}, {longName, 0600u}}) {
        auto t = Make(Server.Url("/f"), 2, name);
        t->Req.FileMode = mode;
        EXPECT_EQ(Fetch(*t).Code, kResultOk);
        EXPECT_EQ(std::filesystem::status(UpdateFilePath(t->Req.TargetPath)).permissions(),
                  std::filesystem::perms(mode));
    }
}
#endif

}  // namespace
}  // namespace toval::test
