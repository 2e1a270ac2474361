#include "catalog/catalogue_trust.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/support/TempDir.h"

namespace toval {
namespace {

using S = TrustedCommentStatus;

TEST(CatalogueTrust, TrustedComment) {
    struct Case {
        std::string Text;
        S Status;
        uint64_t Serial = 0;
        uint64_t Expires = 0;
        std::string For = "";
    };
    const Case cases[] = {
        {"serial:5 expires:4102444800", S::Ok, 5, 4102444800},
        {"timestamp:1700000000\tfile:update.xml  expires:9 serial:0 note:x", S::Ok, 0, 9},
        {"serial:18446744073709551615 expires:1", S::Ok, 18446744073709551615u, 1},
        {"serial:007 expires:1", S::Ok, 7, 1},
        {"", S::MissingSerial},
        {"expires:1", S::MissingSerial},
        {"serial:1", S::MissingExpires},
        {"serials:1 serial:2 expires:3", S::Ok, 2, 3},  // another word
        {"Serial:1 expires:3", S::MissingSerial},
        {"serial:18446744073709551616 expires:1", S::BadSerial},
        {"serial:-1 expires:1", S::BadSerial},
        {"serial:+1 expires:1", S::BadSerial},
        {"serial: expires:1", S::BadSerial},
        {"serial:1x expires:1", S::BadSerial},
        {"serial:1 expires:0x10", S::BadExpires},
        {"serial:1 expires:", S::BadExpires},
        {"serial:1 serial:1 expires:1", S::DuplicateSerial},
        {"serial:1 expires:1 expires:2", S::DuplicateExpires},
        // What the catalogue is for: one spelling per product and channel, or nothing at all.
        {"serial:1 expires:2 for:Toval", S::Ok, 1, 2, "Toval"},
        {"for:Toval/beta\tserial:1 expires:2", S::Ok, 1, 2, "Toval/beta"},
        {"serial:1 expires:2 for:Toval%20%E4%BA%A7/a%2Fb", S::Ok, 1, 2, "Toval%20%E4%BA%A7/a%2Fb"},
        {"serial:1 expires:2 for:", S::BadFor},
        {"serial:1 expires:2 for:/beta", S::BadFor},
        {"serial:1 expires:2 for:Toval/", S::BadFor},
        {"serial:1 expires:2 for:a/b/c", S::BadFor},
        {"serial:1 expires:2 for:a%2", S::BadFor},
        {"serial:1 expires:2 for:a%2f", S::BadFor},
        {"serial:1 expires:2 for:a%41", S::BadFor},  // an escaped letter: a second spelling
        {"serial:1 expires:2 for:a+b", S::BadFor},
        {"serial:1 expires:2 for:a for:a", S::DuplicateFor},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        const TrustedCommentValues v = ParseTrustedComment(c.Text);
        EXPECT_EQ(v.Status, c.Status);
        if (c.Status == S::Ok) {
            EXPECT_EQ(v.Serial, c.Serial);
            EXPECT_EQ(v.Expires, c.Expires);
            EXPECT_EQ(v.For, c.For);
        }
    }
}

TEST(CatalogueTrust, Freshness) {
    struct Case {
        uint64_t Serial, Expires, Now, Floor;
        Freshness Result;
    };
    const Case cases[] = {
        {5, 100, 50, 0, Freshness::Ok},  // first catalogue from this key
        {5, 100, 50, 4, Freshness::Ok},  // newer
        {5, 100, 50, 5, Freshness::Ok},  // the same one again
        {5, 100, 50, 6, Freshness::Rollback},  {5, 100, 99, 5, Freshness::Ok},
        {5, 100, 100, 5, Freshness::Expired},   // expires at that second
        {5, 100, 200, 6, Freshness::Rollback},  // both: the rollback is what matters
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckFreshness(c.Serial, c.Expires, c.Now, c.Floor), c.Result)
            << c.Serial << " " << c.Expires << " " << c.Now << " " << c.Floor;
    }
}

TEST(CatalogueTrust, TargetsNameProductAndChannelInOneWord) {
    const std::pair<std::pair<std::string, std::string>, std::string> cases[] = {
        {{"Toval", ""}, "Toval"},
        {{"Toval", "beta"}, "Toval/beta"},
        {{"Toval 产品", ""}, "Toval%20%E4%BA%A7%E5%93%81"},
        {{"a/b", ""}, "a%2Fb"},  // not product "a", channel "b"
        {{"a", "b/c"}, "a/b%2Fc"},
        {{"x%41\t", ""}, "x%2541%09"},
    };
    for (const auto& [names, target] : cases) {
        EXPECT_EQ(CatalogueTarget(names.first, names.second), target);
        EXPECT_TRUE(IsCatalogueTarget(target)) << target;
    }
}

// One floor across the keys trusted now: a key that is not trusted any more no longer counts.
TEST(CatalogueTrust, TheFloorIsTheHighestSerialUnderAnyTrustedKey) {
    test::TempDir dir;
    const minisign::PublicKey a{{1, 2, 3, 4, 5, 6, 7, 8}, {}};
    const minisign::PublicKey b{{0xff, 0, 0, 0, 0, 0, 0, 0x10}, {}};
    std::optional<SerialFloor> floor = SerialFloor::Load(dir.Path());
    ASSERT_TRUE(floor);
    EXPECT_EQ(floor->Value({a, b}), 0u);
    floor->Raise(b.Id, 200);
    floor->Raise(a.Id, 100);
    floor->Raise(b.Id, 3);
    ASSERT_TRUE(floor->Save(dir.Path()));
    EXPECT_EQ(test::ReadFile(dir / "serials"), "0807060504030201 100\n10000000000000FF 200\n");
    const std::optional<SerialFloor> again = SerialFloor::Load(dir.Path());
    ASSERT_TRUE(again);
    const std::pair<std::vector<minisign::PublicKey>, uint64_t> cases[] = {
        {{a, b}, 200}, {{b}, 200}, {{a}, 100}, {{}, 0}};
    for (const auto& [trusted, value] : cases) EXPECT_EQ(again->Value(trusted), value);
    // Nothing but the file itself is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    EXPECT_FALSE(floor->Save(dir / "missing"));
}

TEST(CatalogueTrust, ADamagedSerialsFileCountsAsEmptyAnUnreadableOneAsNoFloor) {
    const std::string good = "0807060504030201 7\n";
    const std::string damaged[] = {
        good.substr(0, good.size() - 1),  // cut short
        good + "0807060504030201 9\n",    // one key twice
        "0807060504030201 -7\n",
        "0807060504030201 18446744073709551616\n",
        "080706050403020 7\n",
        "0807060504030201\t7\n",
        "08070605040302011 7\n",
        good + "\n",
        std::string("0807060504030201 7\0\n", 20),
        std::string(100000, '0'),
    };
    const minisign::PublicKey a{{1, 2, 3, 4, 5, 6, 7, 8}, {}};
    for (const std::string& text : damaged) {
        test::TempDir dir;
        dir.Write("serials", text);
        const std::optional<SerialFloor> floor = SerialFloor::Load(dir.Path());
        ASSERT_TRUE(floor) << text.substr(0, 40);
        EXPECT_EQ(floor->Value({a}), 0u) << text.substr(0, 40);
    }
    // A directory or a link where the file should be: the floor cannot be known.
    test::TempDir other;
    std::filesystem::create_directory(other / "serials");
    EXPECT_FALSE(SerialFloor::Load(other.Path()));
#ifndef _WIN32
    test::TempDir linked;
    std::filesystem::create_symlink("nowhere", linked / "serials");
    EXPECT_FALSE(SerialFloor::Load(linked.Path()));
#endif
}

TEST(CatalogueTrust, TheExpectedTargetIsThePublishersElseTheLearntOne) {
    using Source = ExpectedTarget::Source;
    struct Case {
        const char* Name;
        std::optional<std::string> Publisher, Learnt;  // the files' texts; nothing: no file
        Source From;
        std::string Target;
        bool PublisherFileBad = false;
    };
    const Case cases[] = {
        {"neither", {}, {}, Source::Nothing, ""},
        {"learnt", {}, "Toval/beta\n", Source::Learnt, "Toval/beta"},
        {"damaged learnt", {}, "Toval beta\n", Source::Nothing, ""},
        {"publisher", "Toval\r\n", "Other\n", Source::Publisher, "Toval"},
        {"publisher without line end", "Toval/beta", {}, Source::Publisher, "Toval/beta"},
        {"bad publisher file", "Toval beta\n", "Toval\n", Source::Publisher, "", true},
        {"empty publisher file", "", {}, Source::Publisher, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TempDir program;
        std::filesystem::create_directory(program / ".toval-updater");
        if (c.Publisher) program.Write("toval-updater.for", *c.Publisher);
        if (c.Learnt) program.Write(".toval-updater/for", *c.Learnt);
        const ExpectedTarget e = LoadExpectedTarget(program.Path(), program / ".toval-updater");
        EXPECT_EQ(e.From, c.From);
        EXPECT_EQ(e.Target, c.Target);
        EXPECT_EQ(e.PublisherFileBad, c.PublisherFileBad);
        EXPECT_FALSE(e.StateUnusable);
    }
    test::TempDir program;
    std::filesystem::create_directories(program / ".toval-updater/for");
    EXPECT_TRUE(LoadExpectedTarget(program.Path(), program / ".toval-updater").StateUnusable);
    EXPECT_FALSE(SaveLearntTarget(program / ".toval-updater", "Toval/beta"));
    std::filesystem::remove(program / ".toval-updater/for");
    ASSERT_TRUE(SaveLearntTarget(program / ".toval-updater", "Toval/beta"));
    EXPECT_EQ(LoadExpectedTarget(program.Path(), program / ".toval-updater").Target, "Toval/beta");
}

}  // namespace
}  // namespace toval
