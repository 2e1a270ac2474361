// A release that carries the updater itself: the running updater is replaced like any other
// file, the new one runs, and the launch after finds the client current.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

TEST(SelfUpdateE2E, TheUpdaterReplacesItselfAndTheNewOneRuns) {
    // Windows keeps a running program's file from being replaced; this is the Linux case.
    if (TestingWindowsUpdater()) GTEST_SKIP() << "a running program's file is locked on Windows";
    TempDir root;
    for (const char* d : {"home", "tmp", "client", "server/c", "work"})
        fs::create_directories(root / d);
    Nginx web(root / "server");
    ASSERT_TRUE(web.Running()) << web.Failure();
    const std::string updater = InstallUpdater(root / "client");
    // The next version of the program: the same code with bytes of its own after it, which a
    // program loader ignores.
    const std::string next = ReadFile(updater) + "release 2\n";
    root.Write("server/c/" + UpdaterFileName(), next);
    fs::permissions(root / ("server/c/" + UpdaterFileName()), fs::perms::owner_all);
    root.Write("server/c/a.dat", "a2");
    const ProcessResult made =
        RunProcess(std::string(TOVAL_BIN_DIR) + "/toval-catalog",
                   {"-o", root / "server/update.xml", root / "server/c", web.Url("c")},
                   {{"PATH", "/usr/bin:/bin"}}, root / "work");
    ASSERT_EQ(made.ExitStatus, 0) << made.Err;

    const auto run = [&] {
        return RunProcess(updater, {"--console", web.Url("update.xml") + ",0"},
                          UpdaterEnvironment(root.Path()), root / "work");
    };
    ProcessResult r = run();
    ASSERT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadFile(updater), next);
    EXPECT_EQ(ReadFile(root / "client/a.dat"), "a2");
    r = run();
    EXPECT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("你当前的版本是最新的"), std::string::npos) << r.Out;
}

}  // namespace
}  // namespace toval::test
