// The real updater started from a system program directory: it refuses before it asks anything
// of the network or leaves anything there. The directory is a temporary one mounted over a real
// system directory in a mount namespace of the test's own, so that a faulty updater writes only
// into the temporary directory and nothing outside the test sees the mount.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

TEST(SystemDirectoryE2E, RefusesToWorkWhereTheSystemKeepsItsPrograms) {
    TOVAL_LINUX_UPDATER_ONLY("mount namespaces");
    const std::string mountPoint = "/usr/local/games";
    if (!fs::is_directory(mountPoint)) GTEST_SKIP() << mountPoint << " does not exist";
    TempDir root;
    for (const char* d : {"system", "home", "tmp", "work"}) fs::create_directories(root / d);
    const std::map<std::string, std::string> env = UpdaterEnvironment(root.Path());
    if (RunProcess("/usr/bin/unshare", {"-m", "true"}, env, root / "work").ExitStatus != 0)
        GTEST_SKIP() << "no mount namespace of our own (it needs root)";

    InstallUpdater(root / "system");
    HttpServer server;  // routes nothing: any request fails the test
    const std::string argument = server.Url("/update.xml") + ",0";
    const std::string refusal = "toval-updater: " + mountPoint +
                                " is a system program directory, not a game client's; copy "
                                "toval-updater into the client's directory and run it there\n";
    struct Case {
        std::vector<std::string> Args;
        int Status;
        std::string Err;
    };
    const std::vector<Case> cases = {
        {{"--console", argument}, 2, refusal},
        {{argument}, 2, refusal},  // the window's way, which has no display here
        {{"--console"}, 2, refusal},
        {{"--version"}, 0, ""},
    };
    for (const Case& c : cases) {
        const std::string script =
            "dir=$1; shift; mount --bind \"$0\" \"$dir\" && exec \"$dir/toval-updater\" \"$@\"";
        std::vector<std::string> args = {"-m", "sh", "-c", script, root / "system", mountPoint};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const ProcessResult r = RunProcess("/usr/bin/unshare", args, env, root / "work");
        const std::string shown = ::testing::PrintToString(c.Args);
        EXPECT_EQ(r.ExitStatus, c.Status) << shown << "\n" << r.Err;
        EXPECT_EQ(r.Err, c.Err) << shown;
    }
    EXPECT_TRUE(server.Requests().empty());
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(root / "system"))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"toval-updater"});
}

}  // namespace
}  // namespace toval::test
