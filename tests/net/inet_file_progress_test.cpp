// The downloader's messages while a body arrives and after it: progress coalesced and complete,
// cancels before, during and by destruction, and bodies that stall.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "net/CInetFile.h"
#include "tests/net/CInetFileFixture.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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

}  // namespace
}  // namespace toval::test
