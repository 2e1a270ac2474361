// The player's bandwidth cap as the server sees it: nginx's log of the bytes it sent, over the
// time the whole run took, several transfers at once. A slow machine only lowers the rate, so
// the check holds however loaded the machine is. (bench/ratecap measures it over 30 s.)

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

TEST(RateCapE2E, TheServerSendsNoFasterThanTheCap) {
    TempDir root;
    for (const char* d : {"home", "tmp", "client", "server", "work"})
        fs::create_directories(root / d);
    Nginx web(root / "server");
    ASSERT_TRUE(web.Running()) << web.Failure();
    const std::string updater = InstallUpdater(root / "client");
    constexpr uint64_t kCap = 256 * 1024;
    constexpr int kFiles = 6;
    for (int i = 0; i < kFiles; ++i)
        root.Write("server/f" + std::to_string(i) + ".dat", std::string(128 * 1024, 'a' + i));
    const ProcessResult made = RunProcess(std::string(TOVAL_BIN_DIR) + "/toval-catalog",
                                          {"-o", root / "server/update.xml", root / "server",
                                           "http://127.0.0.1:" + std::to_string(web.Port())},
                                          {{"PATH", "/usr/bin:/bin"}}, root / "work");
    ASSERT_EQ(made.ExitStatus, 0) << made.Err;

    const auto begun = std::chrono::steady_clock::now();
    const ProcessResult r =
        RunProcess(updater, {"--console", "--max-rate", "256K", web.Url("update.xml") + ",0"},
                   UpdaterEnvironment(root.Path()), root / "work");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    ASSERT_EQ(r.ExitStatus, 0) << r.Err;
    uint64_t sent = 0;
    for (int i = 0; i < kFiles; ++i) sent += web.BytesSent("/f" + std::to_string(i) + ".dat");
    ASSERT_GE(sent, kFiles * 128u * 1024);
    // Three seconds' worth at the cap; a fifth of a second of it may come at once.
    EXPECT_LE(static_cast<double>(sent) / seconds, 1.1 * kCap) << seconds << " s";
}

}  // namespace
}  // namespace toval::test
