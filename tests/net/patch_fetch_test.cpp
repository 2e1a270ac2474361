// A file fetched by its patch, under the run lock: a patch that cannot give the right file gives
// way to the whole file, and whatever stands at the downloader's own paths beside the file (its
// download, its patch's download, their resume records) neither outlives the transfer nor turns
// it into a failure.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <pthread.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/file_identity.h"
#include "tests/net/Fetcher.h"
#include "tests/net/RecordingSink.h"
#include "tests/net/patch_test_util.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

// Never through a link, nor waiting on a FIFO.
std::optional<std::string> ReadFileIfAny(const std::string& path) {
    if (!fs::is_regular_file(fs::symlink_status(FromUtf8(path)))) return std::nullopt;
    return ReadFile(path);
}

class PatchFetchTest : public ::testing::Test {
  protected:
    // Versions that share only their start, so the patch is shorter than the file (or it would
    // not be fetched) but over 1 MiB, which a download under the lock would keep a resume
    // record for.
    const std::string From = Noise(3 << 19, 1);
    const std::string To = From.substr(0, 1 << 19) + Noise(5 << 18, 2);
    const std::string Patch = MakePatch(From, To);

    // Fetches f.bin, installed as From, as a run holding the lock does, with the patch served
    // as `patch` (none: no patch is offered) and listed at `listed` bytes (by default its own);
    // the paths the server was asked for.
    std::vector<std::string> Fetch(std::optional<Response> patch,
                                   std::optional<uint64_t> listed = std::nullopt,
                                   const std::function<void(TransferRequest&)>& adjust = {}) {
        Client.Write("f.bin", From);
        Response whole{200, To};
        whole.Headers = {{"ETag", "\"f1\""}};
        Server.Route("/f.bin", whole);
        const size_t before = Server.Requests().size();

        Fetcher t;
        t.Req.URL = Server.Url("/f.bin");
        t.Req.TargetPath = Client / "f.bin";
        t.Req.Resume = true;
        t.Req.ExpectedLength = To.size();
        t.Req.Sha256 = HexDigestOf(To);
        if (patch) {
            patch->Headers = {{"ETag", "\"p1\""}};
            Server.Route("/p.zst", *patch);
            // The catalogue's length is that of what is served, so only its bytes can be amiss.
            const uint64_t length = patch->Body.empty() ? Patch.size() : patch->Body.size();
            t.Req.Patches = {{HexDigestOf(From), Server.Url("/p.zst"), listed.value_or(length)}};
        }
        t.Sink = &Sink;
        if (adjust) adjust(t.Req);
        EXPECT_EQ(FetchToEnd(t, Sink).Code, kResultOk);
        EXPECT_TRUE(ReadFileIfAny(Client / "f.bin.update") == To);

        std::vector<std::string> asked;
        const std::vector<Request> requests = Server.Requests();
        for (size_t i = before; i < requests.size(); ++i) asked.push_back(requests[i].Target);
        return asked;
    }

    // The names in the client directory, sorted.
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(FromUtf8(Client.Path())))
            names.push_back(Utf8(e.path().filename()));
        std::sort(names.begin(), names.end());
        return names;
    }

    void Clear() {
        for (const auto& e : fs::directory_iterator(FromUtf8(Client.Path()))) fs::remove(e.path());
    }

    TempDir Client;
    HttpServer Server;
    RecordingSink Sink;
};

TEST_F(PatchFetchTest, APatchThatCannotGiveTheFileGivesWayToTheWholeFileAndLeavesNothing) {
    ASSERT_GT(Patch.size(), 1u << 20);
    ASSERT_LT(Patch.size(), To.size());
    // Decodes cleanly to the right length, but not to the right bytes.
    std::string other = To;
    other[other.size() / 2] ^= 1;
    const std::string wrong = MakePatch(From, other);

    struct Case {
        const char* Name;
        Response Served;
        std::vector<std::string> Asked;
        std::optional<std::string> Installed = std::nullopt;  // none: the patch's source
        bool NothingInstalled = false;
    };
    // The patch is applied without reading the installed file first: only the result's hash
    // tells a file of another version, and the whole file must follow then too.
    std::string edited = From;
    edited[1000] ^= 1;  // in the part the new version shares
    const Case cases[] = {
        {"applies", Response{200, Patch}, {"/p.zst"}},
        {"makes other bytes", Response{200, wrong}, {"/p.zst", "/f.bin"}},
        {"cut off", Response{.Body = Patch, .CloseAfter = Patch.size() / 2}, {"/p.zst", "/f.bin"}},
        {"missing", Response{404}, {"/p.zst", "/f.bin"}},
        {"installed is another version", Response{200, Patch}, {"/p.zst", "/f.bin"}, edited},
        {"installed is shorter", Response{200, Patch}, {"/p.zst", "/f.bin"}, From.substr(9)},
        {"nothing installed", Response{200, Patch}, {"/f.bin"}, std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Clear();
        EXPECT_EQ(Fetch(c.Served, std::nullopt,
                        [&](TransferRequest&) {
                            if (c.Installed) Client.Write("f.bin", *c.Installed);
                            if (c.NothingInstalled) fs::remove(FromUtf8(Client / "f.bin"));
                        }),
                  c.Asked);
        // Neither the patch's download nor a record to continue it stays behind.
        const std::vector<std::string> left =
            c.NothingInstalled ? std::vector<std::string>{"f.bin.update"}
                               : std::vector<std::string>{"f.bin", "f.bin.update"};
        EXPECT_EQ(Names(), left);
    }
}

// The installed file's hash as the caller's cache keeps it is believed while the file has the
// identity it was taken of, and not otherwise. (A kept hash that lies shows which: believed, it
// names no patch on offer and the whole file is fetched; not believed, the one patch is applied
// and makes the file.)
TEST_F(PatchFetchTest, AKeptHashOfTheInstalledFileIsUsedOnlyWhileTheFileIsTheSame) {
    const auto kept = [&](bool sameFile, const std::string& of) {
        return [&, sameFile, of](TransferRequest& req) {
            const std::optional<IdentifiedFile> now =
                IdentifyFile(FileHandle::Open(Client / "f.bin", OpenFor::Read));
            ASSERT_TRUE(now);
            InstalledDigest known{now->Identity, *ParseSha256Hex(HexDigestOf(of))};
            if (!sameFile) ++known.Identity.Size;
            req.Installed = known;
        };
    };
    Clear();
    EXPECT_EQ(Fetch(Response{200, Patch}, std::nullopt, kept(true, To)),
              (std::vector<std::string>{"/f.bin"}));
    Clear();
    EXPECT_EQ(Fetch(Response{200, Patch}, std::nullopt, kept(false, To)),
              (std::vector<std::string>{"/p.zst"}));
}

TEST_F(PatchFetchTest, APatchListedLongerThanItsFileOrWithoutALengthIsNeverFetched) {
    // Such a length would let a catalogue fill the disk before the whole file comes anyway.
    for (const uint64_t listed : {uint64_t{1'000'000'000'000}, To.size() + 1, uint64_t{0}}) {
        SCOPED_TRACE(listed);
        Clear();
        EXPECT_EQ(Fetch(Response{200, Patch}, listed), (std::vector<std::string>{"/f.bin"}));
    }
}

#ifndef _WIN32
// Symbolic links and FIFOs, as the tests make them, are Linux's.
TEST_F(PatchFetchTest, UnderTheLockWhatIsNoRegularFileAtItsOwnPathsIsReplacedNeverFollowed) {
    const std::pair<std::string, bool> cases[] = {
        {"f.bin.update", false},
        {"f.bin.update-resume", false},
        {"f.bin.update", true},
        {"f.bin.update-resume", true},
        {"f.bin.toval-patch.update", true},
        {"f.bin.toval-patch.update-resume", true},
    };
    for (const auto& [name, patched] : cases)
        for (const bool link : {true, false}) {
            SCOPED_TRACE(name + (patched ? " by patch" : "") + (link ? ", a link" : ", a FIFO"));
            Clear();
            const std::string victim = Client.Write("victim", "must stay");
            if (link) {
                fs::create_symlink(FromUtf8(victim), FromUtf8(Client / name));
            } else {
                ASSERT_EQ(mkfifo((Client / name).c_str(), 0600), 0);
            }
            const std::optional<Response> patch =
                patched ? std::optional(Response{200, Patch}) : std::nullopt;
            EXPECT_EQ(Fetch(patch), (std::vector<std::string>{patched ? "/p.zst" : "/f.bin"}));
            EXPECT_EQ(ReadFile(victim), "must stay");
            EXPECT_EQ(Names(), (std::vector<std::string>{"f.bin", "f.bin.update", "victim"}));
        }
}
#endif

#ifndef _WIN32
// Only a patch's work needs a thread of the transfer's own. Fault injection, not a fake: every
// new thread asks for a stack no machine can map, so that worker really fails to start; the
// transfer says so, and a file without a patch on offer starts all the same.
TEST_F(PatchFetchTest, ATransferWhosePatchWorkerCannotStartSaysSo) {
    Client.Write("f.bin", From);
    Server.Route("/f.bin", Response{200, To});
    Fetcher patched, whole, first;
    for (Fetcher* t : {&patched, &whole, &first}) {
        t->Req.URL = Server.Url("/f.bin");
        t->Req.TargetPath = Client / (t == &patched ? "f.bin" : t == &whole ? "g.bin" : "h.bin");
        t->Req.Sha256 = HexDigestOf(To);
        t->Req.ExpectedLength = To.size();
        t->Sink = &Sink;
    }
    patched.Req.Patches = {{HexDigestOf(From), Server.Url("/p.zst"), Patch.size()}};
    // The network loop's own thread is started by the process's first transfer.
    ASSERT_EQ(FetchToEnd(first, Sink).Code, kResultOk);
    pthread_attr_t saved, huge;
    ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, size_t{1} << 46);
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    const bool patchedStarted = patched.Start();
    const bool wholeStarted = whole.Start();
    pthread_setattr_default_np(&saved);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&saved);
    EXPECT_FALSE(patchedStarted);
    ASSERT_TRUE(wholeStarted);
    whole.Join();
    EXPECT_EQ(whole.Result().Code, kResultOk);
    patched.Join();  // never started: returns at once
}
#endif

}  // namespace
}  // namespace toval::test
