// The kept catalogue over whole runs with real transfers from the scripted server: what a run
// keeps of the catalogue it used, and what it asks the server with next time.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "catalog/minisign.h"
#include "engine/CUpdateRun.h"
#include "engine/kept_catalogue.h"
#include "tests/engine/TestHost.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

// The whole run on both systems, with real transfers from the scripted server: names in UTF-8
// (one too long for its ".update" suffix), a directory new to the client (given with Windows
// separators, as catalogues are written), an old file replaced, and the catalogue kept for the
// next run, which asks whether it changed.
TEST(UpdateRunOnTestServer, InstallsUtf8NamesAndReusesTheKeptCatalogue) {
    TempDir client;
    HttpServer server;
    std::string longName;
    for (int i = 0; i < 85; ++i) longName += "龙";  // 255 bytes
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xmlRoot><Product>\n"
        "<File><FileName>" +
        longName +
        "</FileName><Length>7</Length><InstallDir>CURRENTDIR</InstallDir>"
        "<LocalPath>数据\\地图</LocalPath><URL>" +
        server.Url("/files/map.dat") +
        "</URL></File>\n"
        "<File><FileName>a.dat</FileName><Length>5</Length><InstallDir>CURRENTDIR</InstallDir>"
        "<LocalPath></LocalPath><URL>" +
        server.Url("/files/a.dat") + "</URL></File>\n</Product></xmlRoot>\n";
    Response catalogue{200, xml};
    catalogue.Headers = {{"ETag", "\"v1\""}};
    server.Route("/update.xml", catalogue);
    server.Route("/files/map.dat", Response{200, "new map"});
    server.Route("/files/a.dat", Response{200, "new a"});
    client.Write("a.dat", "old");

    const auto run = [&](TestHost& host) {
        CUpdateRun r(host, BaseDirectories{client.Path(), client / "w", client / "s"});
        r.StartRun(server.Url("/update.xml"));
        r.OnTimer(WM_TIMER_PUMP);
        EXPECT_TRUE(host.RunUntilQuit(r));
        return r.RunOutcome();
    };
    TestHost first;
    EXPECT_EQ(run(first), CUpdateRun::Outcome::Finished);
    EXPECT_THAT(Statuses(first.Events), ::testing::Contains("下载文件成功 [" + longName + "]"));
    EXPECT_EQ(ReadFile(client / ("数据/地图/" + longName)), "new map");
    EXPECT_EQ(ReadFile(client / "a.dat"), "new a");
    EXPECT_FALSE(fs::exists(client / "a.dat.update"));

    server.Route("/update.xml", Response{304});
    TestHost second;
    EXPECT_EQ(run(second), CUpdateRun::Outcome::UpToDate);
    const std::vector<Request> requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests.back().Header("If-None-Match"), "\"v1\"");
}

// A catalogue answered by a mirror is kept for its mirrors, but its validators are the
// mirror's: sent to the server next time they could match a different catalogue there. Only a
// signed catalogue's mirrors are remembered.
TEST(UpdateRunOnTestServer, ValidatorsOfAMirrorsAnswerAreNotKeptForTheServer) {
    TempDir client;
    HttpServer server, mirror;
    const std::string mirrorOrigin = mirror.Url("");
    const std::string xml = "<?xml version=\"1.0\"?><xmlRoot><Product><Mirror>" + mirrorOrigin +
                            "</Mirror><File><FileName>a.dat</FileName><Length>5</Length><URL>" +
                            server.Url("/files/a.dat") +
                            "</URL><Sha256>"
                            "fbb6b30b41732026a9073fd355103e207f6b3c7c1adc086724df42e286417adf"
                            "</Sha256></File></Product></xmlRoot>";
    const std::optional<minisign::SecretKey> key = minisign::GenerateSecretKey();
    ASSERT_TRUE(key);
    client.Write("toval-updater.pub", minisign::WritePublicKey({key->Id, key->Public}, "").value());
    const std::string signature =
        minisign::SignFile(*key, xml, "serial:1 expires:4102444800", "").value();
    Response fromServer{200, xml};
    fromServer.Headers = {{"ETag", "\"server\""}};
    server.Route("/update.xml", fromServer);
    server.Route("/update.xml.minisig", Response{200, signature});
    server.Route("/files/a.dat", Response{200, "new a"});
    const auto run = [&] {
        TestHost host;
        CUpdateRun r(host, BaseDirectories{client.Path(), client / "w", client / "s"});
        r.StartRun(server.Url("/update.xml"));
        r.OnTimer(WM_TIMER_PUMP);
        EXPECT_TRUE(host.RunUntilQuit(r));
        return FindKeptCatalogue(StateDirectory(client.Path()), server.Url("/update.xml"));
    };
    std::optional<KeptCatalogue> kept = run();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->ETag, "\"server\"");

    server.Route("/update.xml", Response{503});
    server.Route("/update.xml.minisig", Response{503});
    Response fromMirror{200, xml};
    fromMirror.Headers = {{"ETag", "\"mirror\""}};
    mirror.Route("/update.xml", fromMirror);
    mirror.Route("/update.xml.minisig", Response{200, signature});
    kept = run();
    ASSERT_TRUE(kept);
    EXPECT_EQ(mirror.Requests().size(), 2u);
    EXPECT_EQ(kept->ETag, "");
}

}  // namespace
}  // namespace toval::test
