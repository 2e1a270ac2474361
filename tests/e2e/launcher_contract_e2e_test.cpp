// What a launcher reads of a run: the progress stream on the descriptor it passed, parsed with a
// common JSON library as a launcher would, and the exit status that goes with its last line.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

class LauncherContract : public ::testing::Test {
  protected:
    void SetUp() override {
        // The stream is a descriptor here; on Windows it is a handle the launcher lets inherit.
        if (TestingWindowsUpdater()) GTEST_SKIP() << "descriptors are the Linux form";
        for (const char* d : {"home", "tmp", "client", "server", "work"})
            fs::create_directories(Root / d);
        Web = std::make_unique<Nginx>(Root / "server", 512 * 1024);
        ASSERT_TRUE(Web->Running()) << Web->Failure();
        Updater = InstallUpdater(Root / "client");
        InstallLobby(Root / "client");
    }

    // Runs the updater with its progress stream on descriptor 3, as a launcher's pipe would be.
    ProcessResult Update(const std::string& catalogue, const std::string& fd = "3",
                         const std::string& userInfo = "") {
        std::string arg = Web->Url(catalogue) + ",0";
        arg.insert(arg.find("//") + 2, userInfo);
        return RunProcess("/bin/sh",
                          {"-c", "exec \"$0\" --console --progress-fd " + fd + " \"$1\" 3>\"$2\"",
                           Updater, arg, Root / "work/progress.txt"},
                          UpdaterEnvironment(Root.Path()), Root / "work");
    }

    // Every line of the stream, each of which must parse.
    std::vector<nlohmann::json> Lines() {
        std::vector<nlohmann::json> out;
        std::istringstream text(ReadFile(Root / "work/progress.txt"));
        for (std::string line; std::getline(text, line);) {
            const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
            EXPECT_FALSE(parsed.is_discarded()) << line;
            out.push_back(parsed);
        }
        return out;
    }

    TempDir Root;
    std::unique_ptr<Nginx> Web;
    std::string Updater;
};

TEST_F(LauncherContract, AnUpdateStreamsItsProgressAndEndsWithItsOutcome) {
    // Two seconds of download at nginx's limit, so that progress lines come between.
    Root.Write("server/maps.pak", std::string(1024 * 1024, 'm'));
    Root.Write("server/我的 \"名字\".txt", "x");
    const ProcessResult made = RunProcess(std::string(TOVAL_BIN_DIR) + "/toval-catalog",
                                          {"-o", Root / "server/update.xml", Root / "server",
                                           Web->Url("").substr(0, Web->Url("").size() - 1)},
                                          {{"PATH", "/usr/bin:/bin"}}, Root / "work");
    ASSERT_EQ(made.ExitStatus, 0) << made.Err;

    const ProcessResult r = Update("update.xml");
    ASSERT_EQ(r.ExitStatus, 0) << r.Err;
    const std::vector<nlohmann::json> lines = Lines();
    ASSERT_GE(lines.size(), 2u);
    bool sawDownload = false;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["event"], "progress");
        if (lines[i]["stage"] == "downloading" && lines[i]["count"] == 2) sawDownload = true;
    }
    EXPECT_TRUE(sawDownload);
    const nlohmann::json& last = lines.back();
    EXPECT_EQ(last["event"], "end");
    EXPECT_EQ(last["outcome"], "updated");
    EXPECT_EQ(last["exit_status"], 0);
    EXPECT_EQ(last["total"], 1024 * 1024 + 1);
}

// The stream's last line and the run's log both say what went wrong, and the log, which a player
// sends to whoever helps, keeps the credentials out.
TEST_F(LauncherContract, AFailureEndsTheStreamAndTheLogWithWhatThePlayerSaw) {
    const ProcessResult r = Update("missing.xml", "3", "player:secret@");
    EXPECT_EQ(r.ExitStatus, 1) << r.Err;
    const std::vector<nlohmann::json> lines = Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["outcome"], "failed");
    EXPECT_EQ(lines.back()["exit_status"], 1);
    EXPECT_NE(lines.back()["message"], "");

    std::vector<fs::path> logs;
    for (const auto& e : fs::directory_iterator(Root / "client/.toval-updater/log"))
        logs.push_back(e.path());
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = ReadFile(logs[0].string());
    EXPECT_NE(log.find("GET " + Web->Url("missing.xml") + ": result 6, HTTP 404"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("ended: failed, exit status 1"), std::string::npos) << log;
    EXPECT_EQ(log.find("secret"), std::string::npos) << log;
}

TEST_F(LauncherContract, ADescriptorThatIsNotOpenIsAUsageError) {
    const ProcessResult r = Update("update.xml", "9");
    EXPECT_EQ(r.ExitStatus, 2);
    EXPECT_NE(r.Err.find("--progress-fd 9"), std::string::npos) << r.Err;
}

}  // namespace
}  // namespace toval::test
