// The programs' own options, answered by the real binaries, and the note the terminal gets when
// the argument is not "URL,HANDLE".

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

TEST(ProgramOptions, HelpVersionAndUnknownOptions) {
    const std::string updater = ProgramUnderTest("toval-updater");
    const std::string catalog = ProgramUnderTest("toval-catalog");
    struct Case {
        std::string Program;
        std::vector<std::string> Args;
        int Status;
        std::string Out;  // a regular expression for the whole of standard output
        std::string Err;  // a part of standard error; empty: nothing may be written there
    };
    const std::vector<Case> cases = {
        {updater,
         {"--help"},
         0,
         "Usage: toval-updater \\[--console\\] \\[--verify\\] \\[--max-rate RATE\\] "
         "\\[--progress-fd N\\] \\[URL,HANDLE\\].*",
         ""},
        {updater, {"--console", "http://h/u.xml,5", "-h"}, 0, "Usage: toval-updater .*", ""},
        {updater, {"--version"}, 0, "toval-updater [0-9]+\\.[0-9]+\\.[0-9]+\n", ""},
        {updater, {"http://h/u.xml,5", "-x"}, 2, "", "unknown option '-x'"},
        {updater, {"--verbose"}, 2, "", "toval-updater --help"},
        {catalog, {"--version"}, 0, "toval-catalog [0-9]+\\.[0-9]+\\.[0-9]+\n", ""},
    };
    TempDir scratch;
    std::vector<std::string> versions;
    for (const Case& c : cases) {
        const ProcessResult r = RunProcess(c.Program, c.Args, {{"PATH", "/usr/bin:/bin"}},
                                           scratch.Path(), std::chrono::seconds(20));
        const std::string shown = c.Program + " " + ::testing::PrintToString(c.Args);
        EXPECT_EQ(r.ExitStatus, c.Status) << shown << "\n" << r.Err;
        EXPECT_THAT(r.Out, MatchesRegex(c.Out)) << shown;
        if (c.Err.empty()) {
            EXPECT_EQ(r.Err, "") << shown;
        } else {
            EXPECT_THAT(r.Err, HasSubstr(c.Err)) << shown;
        }
        if (c.Args == std::vector<std::string>{"--version"})
            versions.push_back(r.Out.substr(r.Out.find(' ')));
    }
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0], versions[1]) << "both programs come from one release";
}

TEST(ProgramOptions, TheTerminalIsToldWhenTheArgumentIsIgnored) {
    TempDir root;
    for (const char* d : {"client", "home", "tmp", "work"})
        std::filesystem::create_directories(root / d);
    const std::string updater = InstallUpdater(root / "client");
    // The default catalogue is asked of a proxy that refuses at once, so the run fails quickly
    // and offline.
    const std::map<std::string, std::string> env = {{"PATH", "/usr/bin:/bin"},
                                                    {"HOME", root / "home"},
                                                    {"TMPDIR", root / "tmp"},
                                                    {"DISPLAY", ""},
                                                    {"http_proxy", "http://127.0.0.1:1"}};
    const std::string note =
        "toval-updater: 'http://127.0.0.1/u.xml' is not URL,HANDLE; using "
        "http://update.toval.com/update/update.xml\n";
    // With --console, and without it when no display can be opened.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--console", "http://127.0.0.1/u.xml"},
          std::vector<std::string>{"http://127.0.0.1/u.xml"}}) {
        const ProcessResult r = RunProcess(updater, args, env, root / "work");
        EXPECT_EQ(r.ExitStatus, 1) << r.Err;
        EXPECT_THAT(r.Err, HasSubstr(note));
    }
}

}  // namespace
}  // namespace toval::test
