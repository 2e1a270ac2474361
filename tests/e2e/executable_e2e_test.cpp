// A program in the publisher's client arrives as a program: toval-catalog marks it executable,
// and the real updater, fetching from a real nginx, gives the player's copy execute permission
// where it may be read, and nothing more.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

// "0750": permissions as a failure message should show them.
std::string Octal(fs::perms perms) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(perms));
    return text;
}

TEST(ExecutableE2E, ProgramsArriveRunnableWithNoMoreThanExecuteAdded) {
    struct Case {
        const char* Name;
        fs::perms Published;
        fs::perms Player;  // the player's copy before the update; none: a new file
        fs::perms Expected;
    };
    using P = fs::perms;
    // The update runs under umask 027, so a new file starts as 0640, not the publisher's mode.
    const Case cases[] = {
        {"run.sh", P(0755), P::none, P(0750)},
        {"readme.txt", P(0644), P::none, P(0640)},
        // Only execute is added to the player's copy: no read or write the publisher's copy had.
        {"tool.sh", P(0775), P(0600), P(0700)},
    };
    TempDir root;
    for (const char* d : {"home", "tmp", "www/files", "client", "work"})
        fs::create_directories(root / d);
    for (const Case& c : cases) {
        const std::string path =
            root.Write("www/files/" + std::string(c.Name), "#!/bin/sh\necho \"ran $0\"\n");
        fs::permissions(path, c.Published);
        if (c.Player == P::none) continue;
        fs::permissions(root.Write("client/" + std::string(c.Name), "old"), c.Player);
    }
    Nginx web(root / "www");
    ASSERT_TRUE(web.Running()) << web.Failure();
    const ProcessResult published =
        RunProcess(std::string(TOVAL_BIN_DIR) + "/toval-catalog",
                   {"-o", root / "www/update.xml", root / "www/files", web.Url("files")},
                   {{"PATH", "/usr/bin:/bin"}}, root / "work");
    ASSERT_EQ(published.ExitStatus, 0) << published.Err;
    const std::string updater = InstallUpdater(root / "client");
    InstallLobby(root / "client");

    const mode_t mask = ::umask(027);
    const ProcessResult r = RunProcess(updater, {"--console", web.Url("update.xml") + ",0"},
                                       UpdaterEnvironment(root.Path()), root / "work");
    ::umask(mask);
    ASSERT_EQ(r.ExitStatus, 0) << r.Out << r.Err;

    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = root / ("client/" + std::string(c.Name));
        EXPECT_EQ(ReadFile(path), ReadFile(root / ("www/files/" + std::string(c.Name))));
        if (TestingWindowsUpdater()) continue;  // Windows files have no such bits
        EXPECT_EQ(Octal(fs::status(path).permissions()), Octal(c.Expected));
    }
    TOVAL_LINUX_UPDATER_ONLY("execute permission");
    const std::string runSh = root / "client/run.sh";
    const ProcessResult ran = RunProcess(runSh, {}, {{"PATH", "/usr/bin:/bin"}}, root / "work");
    EXPECT_EQ(ran.ExitStatus, 0) << ran.Err;
    EXPECT_EQ(ran.Out, "ran " + runSh + "\n");
}

}  // namespace
}  // namespace toval::test
