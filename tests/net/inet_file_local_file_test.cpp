// The downloader's local file: where it goes and under which name, what it leaves behind on a
// failure (a link, a full disk, a body of the wrong length or digest) and its mode.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <utility>

#include "net/CInetFile.h"
#include "net/update_path.h"
#include "platform/crypto.h"
#include "tests/net/CInetFileFixture.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

using namespace std::chrono_literals;

TEST_F(CInetFileTest, NotFoundLeavesAnEarlierUpdateFileAsItWas) {
    Server.Route("/a.dll", Response{404, "missing"});
    Dir.Write("a.dll.update", "from an earlier run");
    auto t = Make(Server.Url("/a.dll"), 2, "a.dll");
    const DrainedTransfer d = Fetch(*t);
    EXPECT_EQ(d.CompleteWParam, MakeNotifyParam(2, kResultHttpStatus));
    EXPECT_EQ(ReadFile(Dir / "a.dll.update"), "from an earlier run");
}

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

TEST_F(CInetFileTest, WithoutATargetNothingIsWritten) {
    Server.Route("/f", Response{200, "x"});
    auto t = Make(Server.Url("/f"), 2);
    t->Req.TargetPath.clear();
    EXPECT_EQ(Fetch(*t).Code, kResultLocalFile);
    EXPECT_FALSE(std::filesystem::exists(".update"));
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
