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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        const TrustedCommentValues v = ParseTrustedComment(c.Text);
        EXPECT_EQ(v.Status, c.Status);
        if (c.Status == S::Ok) {
            EXPECT_EQ(v.Serial, c.Serial);
            EXPECT_EQ(v.Expires, c.Expires);
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

TEST(CatalogueTrust, SerialFloorsSurviveASaveAndOnlyRise) {
    test::TempDir dir;
    const minisign::KeyId a = {1, 2, 3, 4, 5, 6, 7, 8};
    const minisign::KeyId b = {0xff, 0, 0, 0, 0, 0, 0, 0x10};
    SerialFloors floors = SerialFloors::Load(dir.Path());
    EXPECT_EQ(floors.Floor(a), 0u);
    floors.Raise(a, 7);
    floors.Raise(a, 3);
    floors.Raise(b, 18446744073709551615u);
    ASSERT_TRUE(floors.Save(dir.Path()));
    EXPECT_EQ(test::ReadFile(dir / "serials"),
              "0807060504030201 7\n10000000000000FF 18446744073709551615\n");

    const SerialFloors again = SerialFloors::Load(dir.Path());
    EXPECT_EQ(again.Floor(a), 7u);
    EXPECT_EQ(again.Floor(b), 18446744073709551615u);
    // Nothing but the file itself is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

    EXPECT_FALSE(floors.Save(dir / "missing"));
}

TEST(CatalogueTrust, ADamagedSerialsFileCountsAsEmpty) {
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
    const minisign::KeyId a = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const std::string& text : damaged) {
        test::TempDir dir;
        dir.Write("serials", text);
        EXPECT_EQ(SerialFloors::Load(dir.Path()).Floor(a), 0u) << text.substr(0, 40);
    }
    test::TempDir dir;
    dir.Write("serials", good);
    EXPECT_EQ(SerialFloors::Load(dir.Path()).Floor(a), 7u);
    // A directory where the file should be is no file either.
    test::TempDir other;
    std::filesystem::create_directory(other / "serials");
    EXPECT_EQ(SerialFloors::Load(other.Path()).Floor(a), 0u);
}

}  // namespace
}  // namespace toval
