// The catalogue travels compressed when the server has the publisher's gzip copy (nginx's
// gzip_static), and a compressed body that would decode past the catalogue's cap is refused
// without filling the disk.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/e2e/UpdaterProcess.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

class CompressedCatalogue : public ::testing::Test {
  protected:
    void SetUp() override {
        // Only a network library built with zlib asks for gzip; the Windows build's has none.
        if (TestingWindowsUpdater()) GTEST_SKIP() << "the Windows build fetches it whole";
        for (const char* d : {"home", "tmp", "client", "server/c", "work"})
            fs::create_directories(Root / d);
        ASSERT_TRUE(Web.Running()) << Web.Failure();
        Updater = InstallUpdater(Root / "client");
    }
    ProcessResult Update() {
        return RunProcess(Updater, {"--console", Web.Url("update.xml") + ",0"},
                          UpdaterEnvironment(Root.Path()), Root / "work");
    }

    TempDir Root;
    Nginx Web{Root / "server", 0, true};
    std::string Updater;
};

TEST_F(CompressedCatalogue, ArrivesCompressedAndIsReadAsTheCatalogue) {
    for (int i = 0; i < 300; ++i) Root.Write("server/c/f" + std::to_string(i) + ".dat", "x");
    const ProcessResult made =
        RunProcess(std::string(TOVAL_BIN_DIR) + "/toval-catalog",
                   {"-o", Root / "server/update.xml", Root / "server/c", Web.Url("c")},
                   {{"PATH", "/usr/bin:/bin"}}, Root / "work");
    ASSERT_EQ(made.ExitStatus, 0) << made.Err;
    ASSERT_TRUE(fs::exists(Root / "server/update.xml.gz"));
    const ProcessResult r = Update();
    ASSERT_EQ(r.ExitStatus, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadFile(Root / "client/f299.dat"), "x");
    EXPECT_LT(Web.BytesSent("/update.xml") * 5, fs::file_size(Root / "server/update.xml"));
}

TEST_F(CompressedCatalogue, OneThatWouldDecodePastTheCapIsRefused) {
    Root.Write("server/update.xml", "<?xml version=\"1.0\"?><xmlRoot></xmlRoot>");
    const ProcessResult bomb = RunProcess(
        "/bin/sh",
        {"-c", "head -c 300M /dev/zero | gzip -1 >\"$0\"", Root / "server/update.xml.gz"},
        {{"PATH", "/usr/bin:/bin"}}, Root / "work");
    ASSERT_EQ(bomb.ExitStatus, 0) << bomb.Err;
    const ProcessResult r = Update();
    EXPECT_EQ(r.ExitStatus, 1) << r.Out << r.Err;
    EXPECT_NE(r.Err.find("下载的文件长度不正确"), std::string::npos) << r.Err;
    // Nothing of it stays behind.
    EXPECT_TRUE(fs::is_empty(Root / "tmp"));
}

}  // namespace
}  // namespace toval::test
