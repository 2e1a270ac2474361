#pragma once
// A whole run against a real web server (nginx on Linux, the scripted test server on Windows),
// with the client, the server's files, the working directory and the temporary directory each a
// fresh directory of their own, and the lobby a stand-in that notes it was started.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/CUpdateRun.h"
#include "engine/status_texts.h"
#include "tests/engine/RecordingPrograms.h"
#include "tests/engine/TestHost.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"
#ifndef _WIN32
#include "tests/support/Nginx.h"
#endif

namespace toval::test {

class UpdateRunTest : public ::testing::Test {
  protected:
    // Played against nginx on Linux (real validators, kept-alive connections). A Windows test
    // program cannot start nginx: there the test server answers from the same directory, one
    // connection per request, without validators; the lobby is a Windows program.
#ifdef _WIN32
    class WebServer {
      public:
        explicit WebServer(const std::string& root) { Server.ServeDirectory(root); }
        bool Running() const { return true; }
        std::string Failure() const { return {}; }
        std::string Url(const std::string& path) const { return Server.Url("/" + path); }
        // As nginx's log has them: "/a.dat 200".
        std::vector<std::string> Requests() const;

      private:
        HttpServer Server;
    };
#else
    using WebServer = Nginx;
#endif

    struct File {
        File(std::string name, std::string content, bool onServer = true, bool current = false,
             std::string dir = {})
            : Name(std::move(name)),
              Content(std::move(content)),
              OnServer(onServer),
              CurrentLocally(current),
              Dir(std::move(dir)) {}
        std::string Name;
        std::string Content;
        bool OnServer;
        bool CurrentLocally;  // the client already has this content
        std::string Dir;      // sub-directory below the client's directory
    };

    static std::string Catalogue(const std::vector<File>& files, const WebServer& web);
    // The run's temporary catalogues ("Xml..." files) left in `dir`.
    static int CountTempCatalogues(const std::string& dir);

    void SetUp() override;
    void TearDown() override;

    void Publish(const std::vector<File>& files);
    // Each catalogue a test serves gets a modification time of its own: nginx's validators
    // count whole seconds, and a run keeps the last catalogue to ask whether it changed.
    void WriteCatalogue(const std::string& xml);
    std::unique_ptr<CUpdateRun> MakeRun(uint32_t caller = 77);
    // Opens the run and lets it go to its end.
    void Drive(CUpdateRun& run, const std::string& path = "update.xml", bool ticks = true);
    std::vector<std::string> FilesRequested();

    // The lobby is started detached, so its note can only be waited for; the limit is generous
    // because a loaded machine may take seconds to run a shell, and a pass costs no more for it.
    bool LobbyStarted() { return WaitForFile(Work / "lobby.txt"); }
    // Asked once the run has ended: it would have started the lobby by then.
    bool LobbyStayedAway();

    TempDir Client, Server, Work, Tmp;
    int Serial = 0;
    std::unique_ptr<WebServer> Web;
    std::unique_ptr<TestHost> Host = std::make_unique<TestHost>();
    RecordingPrograms Programs;
    // The lobby the system would start (beside the program, in the current directory, on PATH)
    // rather than a record of the start.
    bool RealPrograms = false;
    std::string SavedTmp;
    std::filesystem::path SavedCwd;
    const std::string Connecting = FillText(kTextConnecting, {kServerName});
    const std::string Fetched = FillText(kTextCatalogueFetched, {kServerName});
};

}  // namespace toval::test
