// What a file's patches take on the disk, in the run's space check and in what it fetches.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/CUpdateRun.h"
#include "platform/crypto.h"
#include "platform/disk_space.h"
#include "tests/engine/TestHost.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

std::string Sha256Of(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes);
    return ToHex(hash.Final()->data(), 32);
}

TEST(PatchSpace, APatchCountsInTheSpaceCheckAndOneLongerThanItsFileIsNeverFetched) {
    TempDir client;
    HttpServer server;
    const std::string body = "new a";
    // Room for the file but not for the file and its patch.
    const uint64_t threeQuarters = FreeBytes(client.Path()) / 4 * 3;
    ASSERT_GT(threeQuarters, 0u);
    struct Case {
        const char* Name;
        uint64_t FileLength;
        uint64_t PatchLength;
        bool Fits;
    };
    const Case cases[] = {
        {"a patch as long as its file, beyond the room", threeQuarters, threeQuarters, false},
        // Counted at its Length it would not fit either; it is left out instead.
        {"a patch longer than its file", body.size(), 1'000'000'000'000'000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string xml =
            "<?xml version=\"1.0\"?><xmlRoot><Product><File><FileName>a.dat</FileName><Length>" +
            std::to_string(c.FileLength) + "</Length><URL>" + server.Url("/files/a.dat") +
            "</URL><Sha256>" + Sha256Of(body) + "</Sha256><Patch><From>" + Sha256Of("old") +
            "</From><URL>" + server.Url("/p.zst") + "</URL><Length>" +
            std::to_string(c.PatchLength) + "</Length></Patch></File></Product></xmlRoot>";
        server.Route("/update.xml", Response{200, xml});
        server.Route("/files/a.dat", Response{200, body});
        server.Route("/p.zst", Response{404});
        client.Write("a.dat", "old");
        const size_t before = server.Requests().size();

        TestHost host;
        CUpdateRun run(host, BaseDirectories{client.Path(), client / "w", client / "s"});
        run.StartRun(server.Url("/update.xml"));
        run.OnTimer(WM_TIMER_PUMP);
        EXPECT_TRUE(host.RunUntilQuit(run));

        std::vector<std::string> asked;
        const std::vector<Request> requests = server.Requests();
        for (size_t i = before; i < requests.size(); ++i) asked.push_back(requests[i].Target);
        if (c.Fits) {
            EXPECT_EQ(run.RunOutcome(), CUpdateRun::Outcome::Finished);
            EXPECT_EQ(ReadFile(client / "a.dat"), body);
            EXPECT_EQ(asked, (std::vector<std::string>{"/update.xml", "/files/a.dat"}));
        } else {
            EXPECT_EQ(run.RunOutcome(), CUpdateRun::Outcome::Failed);
            EXPECT_EQ(Statuses(host.Events).back().rfind("磁盘空间不足", 0), 0u);
            EXPECT_EQ(asked, std::vector<std::string>{"/update.xml"});
        }
    }
}

}  // namespace
}  // namespace toval::test
