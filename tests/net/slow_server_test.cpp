// Servers too slow to wait for, and links slow enough to be waited for. The floor's documented
// defaults are played on a clock of the test's own, so hours of traffic take no time; the
// downloader itself is played against real servers with its windows made small.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "net/rate_floor.h"
#include "net/transfer.h"
#include "tests/net/Fetcher.h"
#include "tests/net/RecordingSink.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#ifndef _WIN32
#include "tests/support/Nginx.h"
#endif

namespace toval::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A server's traffic: `bytes` every `gap`, after `silence` with nothing at all, until `stopAt`
// (after which it sends nothing). When the floor gives up on it under the request's defaults:
// that long after the connection, or nothing when it waited the whole `watch`.
struct Traffic {
    uint64_t Bytes;
    std::chrono::milliseconds Gap;
    std::chrono::milliseconds Silence = 0ms;
    std::chrono::milliseconds StopAt = 24h;
};
std::optional<std::chrono::milliseconds> GivesUpAfter(const Traffic& t,
                                                      std::chrono::milliseconds watch) {
    const TransferRequest defaults;
    RateFloor floor(defaults.MinimumRate, defaults.RateWindow, defaults.RateGrace);
    const Clock::time_point start{};
    floor.Restart(start);
    Clock::time_point now = start;
    for (auto next = start + t.Silence; next - start <= watch; next += t.Gap) {
        if (floor.Left(now) <= next - now)
            return std::chrono::ceil<std::chrono::milliseconds>(now - start) + floor.Left(now);
        now = next;
        if (now - start < t.StopAt) floor.Arrived(t.Bytes, now);
    }
    return std::nullopt;
}

TEST(RateFloor, TheDefaultsEndATrickleWithinTwoMinutesAndWaitForSlowLinks) {
    struct Case {
        const char* Name;
        Traffic Served;
        bool GivenUp;
        std::chrono::milliseconds Within = 120s;
    };
    const Case cases[] = {
        // A catalogue sent 1,100 bytes every 55 s was still being read after 330 s.
        {"the catalogue's trickle", {1100, 55s}, true},
        {"a byte a second", {1, 1s}, true},
        {"a link shaped to 64 KiB/s", {64 << 10, 1s}, false},
        {"a 12 KiB/s link shared by five transfers", {2458, 1s}, false},
        {"bursts of 16 KiB every 5 s", {16 << 10, 5s}, false},
        {"a server that takes 50 s to begin", {64 << 10, 1s, 50s}, false},
        // A link that dies mid-body is let go one window after its last bytes.
        {"silent after ten minutes", {64 << 10, 1s, 0ms, 600s}, true, 631s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto after = GivesUpAfter(c.Served, 3600s);
        EXPECT_EQ(after.has_value(), c.GivenUp);
        if (after) {
            EXPECT_LE(*after, c.Within);
        }
    }
}

class SlowServerTest : public ::testing::Test {
  protected:
    // A request for `url` into the client directory, with the rate floor's windows made small.
    Fetcher Make(const std::string& url, int32_t kind) {
        Fetcher t;
        t.Req.Kind = kind;
        t.Req.Writes = kind == 1 ? BodyTarget::Path : BodyTarget::UpdateFile;
        t.Req.URL = url;
        t.Req.TargetPath = Client / "out.bin";
        t.Req.RateWindow = 300ms;
        t.Req.RateGrace = 300ms;
        t.Sink = &Sink;
        return t;
    }

    TempDir Client;
    HttpServer Server, Mirror;
    RecordingSink Sink;
};

TEST_F(SlowServerTest, ATrickleOrACatalogueThatTakesTooLongEndsWithCode2) {
    const std::string body = GeneratedBody(64 << 10);
    // The catalogue's trickle at a hundredth of its time: 11 bytes every 550 ms.
    Server.Route("/trickle", Response{.Body = body, .TricklePiece = 11, .TrickleGap = 550ms});
    // Fast enough for the floor, but 1.6 s in all.
    Server.Route("/steady", Response{.Body = body, .TricklePiece = 4096, .TrickleGap = 100ms});
    struct Case {
        const char* Name;
        const char* Path;
        int32_t Kind;
        int32_t Code;
    };
    const Case cases[] = {
        {"a trickled catalogue", "/trickle", 1, kResultConnect},
        {"a trickled file", "/trickle", 2, kResultConnect},
        {"a catalogue past its time limit", "/steady", 1, kResultConnect},
        // A file may take as long as the floor allows.
        {"a file as slow", "/steady", 2, kResultOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Fetcher t = Make(Server.Url(c.Path), c.Kind);
        // The run gives the catalogue a time limit, and files none.
        if (c.Kind == 1) t.Req.TimeLimit = 800ms;
        const auto start = Clock::now();
        EXPECT_EQ(FetchToEnd(t, Sink, 10s).Code, c.Code);
        if (c.Code != kResultOk) {
            EXPECT_LT(Clock::now() - start, 1500ms);
        }
    }
}

TEST_F(SlowServerTest, ACatalogueServerPastItsTimeLimitGivesWayToItsMirror) {
    const std::string body = GeneratedBody(64 << 10);
    Server.Route("/update.xml", Response{.Body = body, .TricklePiece = 4096, .TrickleGap = 100ms});
    Mirror.Route("/update.xml", Response{200, body});
    Fetcher t = Make(Server.Url("/update.xml"), 1);
    t.Req.Mirrors = {Mirror.Url("")};
    t.Req.TimeLimit = 800ms;
    EXPECT_EQ(FetchToEnd(t, Sink, 10s).Code, kResultOk);
    EXPECT_EQ(t.Result().AnsweredBy, Mirror.Url("/update.xml"));
    EXPECT_EQ(ReadFile(Client / "out.bin"), body);
}

#ifndef _WIN32
// nginx, which a Windows test program cannot start, shapes its answers as real servers do.
TEST_F(SlowServerTest, ALinkShapedTo64KiBASecondCompletesAtTheDefaultRate) {
    TempDir root;
    const std::string body = GeneratedBody(256 << 10);
    root.Write("big.bin", body);
    Nginx web(root.Path(), 64 << 10);
    ASSERT_TRUE(web.Running()) << web.Failure();
    for (const int32_t kind : {1, 2}) {
        SCOPED_TRACE(kind);
        Fetcher t = Make(web.Url("big.bin"), kind);
        // nginx sends by the whole second, a burst and then nothing: a window of seconds, not
        // of milliseconds, averages that out.
        t.Req.RateWindow = 3s;
        t.Req.RateGrace = 0ms;
        t.Req.ExpectedLength = body.size();
        EXPECT_EQ(FetchToEnd(t, Sink, 30s).Code, kResultOk);
        EXPECT_TRUE(ReadFile(kind == 1 ? Client / "out.bin" : Client / "out.bin.update") == body);
    }
}
#endif

}  // namespace
}  // namespace toval::test
