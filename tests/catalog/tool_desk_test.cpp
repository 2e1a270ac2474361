// Publishing mistakes toval-catalog catches before a player sees them: a stale signature, an
// expiry too near, patches left behind, a signature over files that are not as catalogued.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "tests/catalog/catalog_test_util.h"
#include "tests/support/ChildProgram.h"
#include "tests/support/Utf8Path.h"
#include "tools/published_check.h"

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

// A pseudo-random file, and versions of it with a few bytes changed: patches far smaller than it.
std::string Noise(std::size_t size, std::string_view mark = {}) {
    std::string bytes(size, '\0');
    uint32_t seed = 7;
    for (char& c : bytes) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    return bytes.replace(500, mark.size(), mark);
}

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

TEST_F(CatalogToolDesk, WritesOnlyThePatchesItLists) {
    TempDir old;
    old.Write("tiny.dat", "old bytes");
    old.Write("big.pak", Noise(100000, "old"));
    Client.Write("tiny.dat", "new bytes");
    Client.Write("big.pak", Noise(100000, "new"));
    const std::string out = Work / "update.xml";
    const ProgramRun run = Run({"--previous", old.Path(), "-o", out, Client.Path(), "http://h"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    // The tiny file's patch would be longer than half of it: neither made nor listed.
    EXPECT_EQ(Patches(Work / "patches").size(), 1u);
    const std::string xml = ReadFile(out);
    EXPECT_EQ(xml.find("<Patch>"), xml.rfind("<Patch>"));
    EXPECT_NE(xml.find("<Patch>"), std::string::npos);
}

// Each publishing round patches from the last few versions; the patches from versions no
// catalogue names any more are pruned, and only those.
TEST_F(CatalogToolDesk, PrunesOnlyUnlistedPatches) {
    TempDir v1, v2;
    v1.Write("big.pak", Noise(100000, "v1"));
    v2.Write("big.pak", Noise(100000, "v2"));
    Client.Write("big.pak", Noise(100000, "v3"));
    const std::string pub = Work / "pub";
    const auto publish = [&](const std::string& name, const std::string& previous, bool prune) {
        std::vector<std::string> args = {"--previous",     previous,      "-o",
                                         pub + "/" + name, Client.Path(), "http://h"};
        if (prune) args.insert(args.begin(), "--prune-patches");
        return Run(args);
    };
    ASSERT_EQ(publish("beta.xml", v1.Path(), false).Status, 0);
    const std::set<std::string> fromV1 = Patches(pub + "/patches");
    ASSERT_EQ(fromV1.size(), 1u);
    const std::string stale = std::string(64, 'f') + ".zst";
    ASSERT_TRUE(WriteFileAt(pub + "/patches/" + stale, "stale"));
    ASSERT_TRUE(WriteFileAt(pub + "/patches/notes.txt", "the publisher's own"));

    // beta.xml still lists the patch from v1; nothing lists the stale one.
    ProgramRun run = publish("update.xml", v2.Path(), true);
    ASSERT_EQ(run.Status, 0) << run.Err;
    std::set<std::string> left = Patches(pub + "/patches");
    EXPECT_EQ(left.size(), 3u);
    EXPECT_TRUE(left.contains(*fromV1.begin()) && left.contains("notes.txt"));
    EXPECT_FALSE(left.contains(stale));
    EXPECT_NE(run.Err.find(stale), std::string::npos) << run.Err;
    EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;

    // A file beside them that is no catalogue: which patches it needs cannot be told.
    ASSERT_TRUE(WriteFileAt(pub + "/sitemap.xml", "not a catalogue"));
    run = publish("update.xml", v2.Path(), true);
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("sitemap.xml"), std::string::npos) << run.Err;
    EXPECT_EQ(Patches(pub + "/patches"), left);

    // With beta.xml gone, its patch goes too.
    fs::remove(FromUtf8(pub + "/sitemap.xml"));
    fs::remove(FromUtf8(pub + "/beta.xml"));
    run = publish("update.xml", v2.Path(), true);
    ASSERT_EQ(run.Status, 0) << run.Err;
    left.erase(*fromV1.begin());
    EXPECT_EQ(Patches(pub + "/patches"), left);
}

// What signing holds a catalogue to: each listed file with its Sha256, and as it is in the
// client directory. A run's own scan always passes; a hand edit or a file changed after the
// scan does not.
TEST_F(CatalogToolDesk, SigningChecksTheCatalogueAgainstTheClient) {
    Client.Write("a.dat", "first file");
    Client.Write("sub/b 1.dat", "second file");
    const std::string out = Work / "update.xml";
    ASSERT_EQ(Run({"-o", out, Client.Path(), "http://h/up"}).Status, 0);
    const std::string written = ReadFile(out);
    catalog_tool::Options options;
    options.ClientDir = Client.Path();
    options.BaseUrl = "http://h/up";
    const std::vector<std::string> urls = {"http://h/up/a.dat", "http://h/up/sub/b%201.dat"};
    ASSERT_EQ(catalog_tool::CheckAgainstClient(written, options, urls).Status, 0);

    const auto cut = [&](const std::string& from, const std::string& to) {
        std::string xml = written;
        const auto at = xml.find(from);
        return xml.erase(at, xml.find(to, at) + to.size() - at);
    };
    struct Case {
        const char* Name;
        std::string Xml;
        const char* Change;  // a file of the client rewritten with this, if any
        const char* Says;
    };
    const Case cases[] = {
        {"no Sha256", cut("<Sha256>", "</Sha256>"), nullptr, "'a.dat': listed without its Sha256"},
        {"same length, other bytes", written, "first fil!", "a.dat: its bytes are not the ones"},
        {"other length", written, "first file, longer", "a.dat: 18 bytes, listed with 10"},
        {"entry lost", cut("<File>", "</File>"), nullptr,
         "http://h/up/a.dat: not among the entries the updater reads"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Client.Write("a.dat", c.Change ? c.Change : "first file");
        const catalog_tool::Stop stop = catalog_tool::CheckAgainstClient(c.Xml, options, urls);
        EXPECT_EQ(stop.Status, 1);
        EXPECT_NE(stop.Message.find(c.Says), std::string::npos) << stop.Message;
    }
    fs::remove(FromUtf8(Client / "sub/b 1.dat"));
    EXPECT_NE(
        catalog_tool::CheckAgainstClient(written, options, urls).Message.find("not in CLIENT_DIR"),
        std::string::npos);

#ifndef _WIN32
    // A name Windows reads as the updater's state directory is the state directory: every
    // updater would drop its entries, so they are not catalogued, and the signing goes on.
    ASSERT_EQ(Run({"--keygen", Work / "k"}).Status, 0);
    Client.Write(".toval-updater./x.dat", "x");
    Client.Write(".Toval-Updater /y.dat", "y");
    const ProgramRun run = Run({"--sign", Work / "k.key", "-o", out, Client.Path(), "http://h/up"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadFile(out).find("x.dat"), std::string::npos);
    EXPECT_EQ(ReadFile(out).find("y.dat"), std::string::npos);
#endif
}

}  // namespace
}  // namespace toval::test
