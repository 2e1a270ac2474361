// Publishing mistakes toval-catalog catches before a player sees them: a stale signature, an
// expiry too near, patches left behind, a signature over files that are not as catalogued.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "tests/catalog/catalog_test_util.h"
#include "tests/support/ChildProgram.h"
#include "tests/support/Utf8Path.h"

namespace toval::test {
namespace {

namespace fs = std::filesystem;

class CatalogToolDesk : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(FromUtf8(Program))) << "build the toval-catalog target first";
    }

    ProgramRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), Program);
        return RunProgram(args);
    }

    // The names of the patch files in `dir`.
    static std::set<std::string> Patches(const std::string& dir) {
        std::set<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(FromUtf8(dir), ec))
            names.insert(Utf8(e.path().filename()));
        return names;
    }

    const std::string Program = BuiltProgram("toval-catalog");
    TempDir Client;
    TempDir Work;
};

TEST_F(CatalogToolDesk, UnsignedCatalogueRemovesTheEarlierSignature) {
    Client.Write("a.dat", "a");
    ASSERT_EQ(Run({"--keygen", Work / "k"}).Status, 0);
    const std::string out = Work / "update.xml";
    ASSERT_EQ(Run({"--sign", Work / "k.key", "-o", out, Client.Path(), "http://h"}).Status, 0);
    ASSERT_TRUE(fs::exists(FromUtf8(out + ".minisig")));

    Client.Write("a.dat", "changed");
    const ProgramRun run = Run({"-o", out, Client.Path(), "http://h"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_FALSE(fs::exists(FromUtf8(out + ".minisig")));
    EXPECT_NE(run.Err.find("removed " + out + ".minisig"), std::string::npos) << run.Err;
    // Nothing to say when there is none.
    EXPECT_EQ(Run({"-o", out, Client.Path(), "http://h"}).Err, "");
}

TEST_F(CatalogToolDesk, ExpiryDays) {
    Client.Write("a.dat", "a");
    ASSERT_EQ(Run({"--keygen", Work / "k"}).Status, 0);
    struct Case {
        const char* Days;
        int Status;
        bool Warned;
    };
    const Case cases[] = {{"0", 2, false}, {"1", 0, true}, {"6", 0, true}, {"7", 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Days);
        const std::string out = Work / (std::string("c") + c.Days + ".xml");
        const ProgramRun run = Run({"--sign", Work / "k.key", "--expires-days", c.Days, "-o", out,
                                    Client.Path(), "http://h"});
        EXPECT_EQ(run.Status, c.Status) << run.Err;
        EXPECT_EQ(run.Err.find("warning: the catalogue expires in") != std::string::npos, c.Warned)
            << run.Err;
        EXPECT_EQ(fs::exists(FromUtf8(out)), c.Status == 0);
    }
}

}  // namespace
}  // namespace toval::test
