#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/TempDir.h"

namespace toval {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;

std::string WaitForContent(const std::string& path) {
    return test::WaitForFile(path) ? ReadFile(path) : std::string();
}

TEST(Process, ClassifiesByContentAndPermission) {
    TempDir dir;
    struct Row {
        const char* Name;
        std::string Content;
        bool Executable;
        ProgramKind Kind;
    };
    const Row rows[] = {
        {"script", "#!/bin/sh\n", true, ProgramKind::Native},
        {"script-no-x", "#!/bin/sh\n", false, ProgramKind::Other},
        {"elf",
         std::string("\x7f"
                     "ELF\x02\x01",
                     6),
         true, ProgramKind::Native},
        {"game.exe", "MZ\x90\x00", false, ProgramKind::Windows},
        {"readme.txt", "hello", true, ProgramKind::Other},
        {"empty", "", false, ProgramKind::Other},
    };
    for (const Row& row : rows) {
        const std::string path = dir.Write(row.Name, row.Content);
        fs::permissions(path, row.Executable ? fs::perms::owner_all : fs::perms::owner_read);
        EXPECT_EQ(ClassifyProgram(path), row.Kind) << row.Name;
    }
    EXPECT_EQ(ClassifyProgram(dir / "absent"), ProgramKind::Missing);
    EXPECT_EQ(ClassifyProgram(dir.Path()), ProgramKind::Missing);
}

TEST(Process, StartsDetachedWithArgumentsAsTheyAreAndLeavesNoChild) {
    TempDir dir;
    const std::string out = dir / "args.txt";
    const std::string streams = dir / "streams.txt";
    const std::string script = dir.Write(
        "record",
        "#!/bin/sh\ns=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
        "printf '%s\\n' \"$s\" > \"" +
            streams + "\"\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"" + out + "\"\n");
    fs::permissions(script, fs::perms::owner_all);
    ASSERT_TRUE(StartDetached(script, {"a b", "$HOME", "", "'q'"}));
    EXPECT_EQ(WaitForContent(out), "[a b][$HOME][]['q']");
    // None of our standard streams: a caller reading our output to its end does not wait for
    // the program.
    EXPECT_EQ(ReadFile(streams), "/dev/null\n/dev/null\n/dev/null\n");
    // The program was adopted elsewhere: we have no child left to reap.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);

    EXPECT_FALSE(StartDetached(dir / "absent", {}));
}

// The mark's step is taken by the starting process once the program runs or has failed to,
// before the start returns: the journal of a start never outlives it.
TEST(Process, AStartTakesItsMarksStepOnceTheProgramRuns) {
    TempDir dir;
    const std::string program = dir.Write("prog", "#!/bin/sh\n");
    fs::permissions(program, fs::perms::owner_all);
    struct Case {
        std::string Program;
        bool Rename;  // else remove
        bool Started;
    };
    for (const Case& c : {Case{program, true, true}, Case{program, false, true},
                          Case{dir / "absent", true, false}}) {
        dir.Write("journal", "before");
        const std::string after = dir.Write("journal.after", "after");
        StartMark mark{c.Rename ? after : std::string(), dir / "journal"};
        EXPECT_EQ(StartDetached(c.Program, {}, &mark), c.Started);
        EXPECT_TRUE(mark.Done);
        if (c.Rename) {
            EXPECT_EQ(ReadFile(dir / "journal"), "after");
            EXPECT_FALSE(fs::exists(after));
        } else {
            EXPECT_FALSE(fs::exists(dir / "journal"));
            fs::remove(after);
        }
    }
}

TEST(Process, FindsProgramsOnPath) {
    TempDir dir;
    const std::string tool = dir.Write("toval-tool", "#!/bin/sh\n");
    fs::permissions(tool, fs::perms::owner_all);
    dir.Write("not-executable", "#!/bin/sh\n");
    const std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", ("/nonexistent:" + dir.Path()).c_str(), 1);
    EXPECT_EQ(FindInPath("toval-tool"), tool);
    EXPECT_EQ(FindInPath("not-executable"), "");
    EXPECT_EQ(FindInPath("../toval-tool"), "");
    setenv("PATH", saved.c_str(), 1);
}

}  // namespace
}  // namespace toval
