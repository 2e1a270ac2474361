// Continuing a partial download, and falling back to mirrors. Resuming is played against nginx,
// which answers Range and If-Range as real servers do; the scripted server gives the answers
// nginx never does.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "net/derived_urls.h"
#include "net/resume_info.h"
#include "net/update_path.h"
#include "platform/crypto.h"
#include "tests/net/Fetcher.h"
#include "tests/net/RecordingSink.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#ifndef _WIN32
#include "tests/support/Nginx.h"
#endif

namespace toval::test {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t kLength = 300 * 1024;
constexpr uint64_t kPartial = 100 * 1024;

std::string Sha256Of(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes);
    return ToHex(hash.Final()->data(), 32);
}

class ResumeTest : public ::testing::Test {
  protected:
    // Fetches `url` into the client's f.bin.update as a run holding the lock does.
    DrainedTransfer Fetch(const std::string& url, const std::string& sha = {}) {
        Fetcher t;
        t.Req.URL = url;
        t.Req.TargetPath = Client / "f.bin";
        t.Req.Resume = true;
        t.Req.ExpectedLength = kLength;
        t.Req.Sha256 = sha;
        t.Sink = &Sink;
        const DrainedTransfer d = FetchToEnd(t, Sink);
        LastResult = t.Result();
        return d;
    }
    // What an interrupted run leaves: the start of the body and where it came from.
    void LeavePartial(const std::string& bytes, const std::string& url,
                      const std::string& validator) {
        Client.Write("f.bin.update", bytes);
        ASSERT_TRUE(WriteResumeInfo(ResumeInfoPath(Client / "f.bin"), {url, validator, kLength}));
    }
    std::string Update() { return ReadFile(Client / "f.bin.update"); }
    bool InfoLeft() { return fs::exists(ResumeInfoPath(Client / "f.bin")); }

    const std::string Body = GeneratedBody(kLength);
    TempDir Client, Root;
    RecordingSink Sink;
    TransferResult LastResult;
};

#ifndef _WIN32
// Against nginx, which a Windows test program cannot start.
TEST_F(ResumeTest, APartialIsContinuedOnlyWhileItsServerStillServesWhatItBegan) {
    Root.Write("f.bin", Body);
    Nginx web(Root.Path());
    ASSERT_TRUE(web.Running()) << web.Failure();
    const std::string url = web.Url("f.bin");
    // A first, whole download keeps what a later run needs to continue it until it is done.
    ASSERT_EQ(Fetch(url).Code, kResultOk);
    EXPECT_FALSE(InfoLeft());
    const std::string etag = LastResult.ETag, modified = LastResult.LastModified;
    ASSERT_FALSE(etag.empty());

    struct Case {
        const char* Name;
        std::string Partial;
        std::string Url;
        std::string Validator;
        std::string Sha;
        int32_t Code;
        const char* Answer;  // nginx's status for the second request
        // What the figures count when not the file's length: a restart counts both attempts.
        uint64_t Progress = 0;
    };
    const std::string start = Body.substr(0, kPartial);
    const Case cases[] = {
        {"same content", start, url, etag, Sha256Of(Body), kResultOk, "206"},
        // Only a hash proves a joined file: without one the whole body replaces the partial.
        {"by date, no hash", start, url, modified, "", kResultOk, "200"},
        // Cut off after its last byte: that byte is asked again, to hear the server out.
        {"whole, never installed", Body, url, etag, Sha256Of(Body), kResultOk, "206"},
        {"content changed since", start, url, "\"an-older-version\"", Sha256Of(Body), kResultOk,
         "200"},
        {"begun from another URL", start, url + "?v=1", etag, "", kResultOk, "200"},
        // Bytes the partial already held are hashed too: a damaged start is never installed,
        // and the whole file is fetched again at once rather than the launch failing.
        {"damaged start", std::string(kPartial, 'x'), url, etag, Sha256Of(Body), kResultOk, "200",
         2 * kLength},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        LeavePartial(c.Partial, c.Url, c.Validator);
        const uint64_t sentBefore = web.BytesSent("/f.bin");
        const DrainedTransfer d = Fetch(url, c.Sha);
        EXPECT_EQ(d.Code, c.Code);
        EXPECT_THAT(web.Requests().back(), ::testing::EndsWith(c.Answer));
        const uint64_t sent = web.BytesSent("/f.bin") - sentBefore;
        if (std::string(c.Answer) == "206") {
            EXPECT_LT(sent, kLength - kPartial + 1024);
        } else {
            EXPECT_GT(sent, kLength);
        }
        if (c.Code == kResultOk) {
            EXPECT_TRUE(Update() == Body);
            // The figures count what the file holds.
            EXPECT_EQ(d.ProgressBytes, c.Progress != 0 ? c.Progress : kLength);
        } else {
            EXPECT_FALSE(fs::exists(Client / "f.bin.update"));
        }
        EXPECT_FALSE(InfoLeft());
    }
}
#endif

TEST_F(ResumeTest, AnAnswerThatCannotContinueThePartialRestartsItFromZero) {
    HttpServer server;
    const std::string url = server.Url("/f.bin");
    Response whole{200, Body};
    whole.Headers = {{"ETag", "\"v2\""}};
    Response refused{416, ""};
    Response elsewhere{206, Body.substr(kPartial + 1)};
    elsewhere.Headers = {{"Content-Range", "bytes " + std::to_string(kPartial + 1) + "-" +
                                               std::to_string(kLength - 1) + "/" +
                                               std::to_string(kLength)}};
    for (const Response& ranged : {refused, elsewhere}) {
        SCOPED_TRACE(ranged.Status);
        whole.Ranged = std::make_shared<Response>(ranged);
        server.Route("/f.bin", whole);
        const size_t before = server.Requests().size();
        LeavePartial(Body.substr(0, kPartial), url, "\"v1\"");
        EXPECT_EQ(Fetch(url, Sha256Of(Body)).Code, kResultOk);
        EXPECT_TRUE(Update() == Body);
        const std::vector<Request> requests = server.Requests();
        ASSERT_EQ(requests.size() - before, 2u);
        EXPECT_EQ(requests[before].Header("Range"), "bytes=102400-");
        EXPECT_EQ(requests[before].Header("If-Range"), "\"v1\"");
        EXPECT_EQ(requests[before + 1].HeaderCount("Range"), 0u);
    }
}

TEST_F(ResumeTest, APartialIsContinuedOnlyWhenAHashCanProveTheJoinedFile) {
    // The file was replaced within the second its validator counts: same length, same
    // Last-Modified, other bytes. The server would splice the old start to the new rest.
    HttpServer server;
    const std::string url = server.Url("/f.bin");
    const std::string date = "Tue, 08 Dec 2026 10:00:00 GMT";
    Response whole{200, Body};
    whole.Headers = {{"Last-Modified", date}};
    Response rest{206, Body.substr(kPartial)};
    rest.Headers = {
        {"Last-Modified", date},
        {"Content-Range", "bytes " + std::to_string(kPartial) + "-" + std::to_string(kLength - 1) +
                              "/" + std::to_string(kLength)}};
    whole.Ranged = std::make_shared<Response>(rest);
    server.Route("/f.bin", whole);
    const std::string other = GeneratedBody(kLength + 7).substr(7, kPartial);
    ASSERT_NE(other, Body.substr(0, kPartial));
    // With a hash the splice is tried, found wrong, and the whole file fetched after it.
    for (const auto& [sha, ranges] : {std::pair{std::string(), std::vector<bool>{false}},
                                      {Sha256Of(Body), std::vector<bool>{true, false}}}) {
        SCOPED_TRACE(sha.empty() ? "no hash" : "a hash");
        const size_t before = server.Requests().size();
        LeavePartial(other, url, date);
        EXPECT_EQ(Fetch(url, sha).Code, kResultOk);
        EXPECT_TRUE(Update() == Body);
        const std::vector<Request> requests = server.Requests();
        ASSERT_EQ(requests.size() - before, ranges.size());
        for (size_t i = 0; i < ranges.size(); ++i)
            EXPECT_EQ(requests[before + i].HeaderCount("Range"), ranges[i] ? 1u : 0u) << i;
        EXPECT_FALSE(InfoLeft());
    }
}

TEST(MirrorTest, AFileItsServerCannotGiveIsTakenFromTheNextMirrorThatCan) {
    TempDir client;
    HttpServer primary, broken, mirror;
    std::string refused;
    {
        HttpServer closed;
        refused = "http://127.0.0.1:" + std::to_string(closed.Port());
    }
    const std::string body = "from a mirror";
    broken.Route("/files/a.dat?v=2", Response{404, ""});
    mirror.Route("/files/a.dat?v=2", Response{200, body});
    struct Case {
        const char* Name;
        Response Primary;
        bool Dead;  // the primary does not even accept connections
        int32_t Code;
        bool MirrorsAsked;
    };
    const Case cases[] = {
        {"refused", {}, true, kResultOk, true},
        {"404", Response{404, ""}, false, kResultOk, true},
        {"503", Response{503, ""}, false, kResultOk, true},
        {"stalled", Response{.Body = body, .StallBeforeHeaders = true}, false, kResultOk, true},
        // A refusal or a wrong file is the catalogue's problem, not the server's.
        {"403", Response{403, ""}, false, kResultHttpStatus, false},
        {"wrong length", Response{200, "short"}, false, kResultLength, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        primary.Route("/files/a.dat?v=2", c.Primary);
        const size_t brokenBefore = broken.Requests().size();
        const size_t mirrorBefore = mirror.Requests().size();
        RecordingSink sink;
        Fetcher t;
        const std::string origin = c.Dead ? refused : primary.Url("");
        t.Req.URL = origin + "/files/a.dat?v=2";
        t.Req.Mirrors = {"ftp://127.0.0.1", broken.Url(""), mirror.Url("")};
        t.Req.TargetPath = client / "a.dat";
        t.Req.ExpectedLength = body.size();
        t.Req.RateWindow = std::chrono::milliseconds(300);
        t.Req.RateGrace = std::chrono::milliseconds(0);
        t.Sink = &sink;
        EXPECT_EQ(FetchToEnd(t, sink).Code, c.Code);
        EXPECT_EQ(broken.Requests().size() - brokenBefore, c.MirrorsAsked ? 1u : 0u);
        EXPECT_EQ(mirror.Requests().size() - mirrorBefore, c.MirrorsAsked ? 1u : 0u);
        if (c.Code == kResultOk) {
            EXPECT_EQ(ReadFile(client / "a.dat.update"), body);
            EXPECT_EQ(t.Result().AnsweredBy, mirror.Url("/files/a.dat?v=2"));
        }
        fs::remove(client / "a.dat.update");
    }
    primary.ReleaseStalls();
}

TEST(MirrorUrl, KeepsThePathAndQueryAndTakesOnlyAnOriginFromTheMirror) {
    const std::string url = "http://main.example:8080/up/a%20b.dat?v=2";
    EXPECT_EQ(UrlOnMirror(url, "https://m.example"), "https://m.example/up/a%20b.dat?v=2");
    EXPECT_EQ(UrlOnMirror(url, "http://10.0.0.7:81"), "http://10.0.0.7:81/up/a%20b.dat?v=2");
    EXPECT_EQ(UrlOnMirror(url, "http://[::1]:81"), "http://[::1]:81/up/a%20b.dat?v=2");
    for (const char* bad :
         {"", "m.example", "ftp://m.example", "http://m.example/base", "http://m.example/",
          "http://u:p@m.example", "http://m.example?x=1", "http://"})
        EXPECT_EQ(UrlOnMirror(url, bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace toval::test
