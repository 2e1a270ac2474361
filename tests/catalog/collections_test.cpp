// The catalogue collection: the narrowing of the catalogue against real files.

#include <gtest/gtest.h>

#include <map>

#include "tests/catalog/catalog_test_util.h"

namespace toval::test {
namespace {

class Catalogue : public ::testing::Test, public CatalogueFixture {
  protected:
    // A File element for `name` in the program directory with the given length.
    static std::string Entry(const std::string& name, uint64_t length) {
        return "<File><FileName>" + name + "</FileName><Length>" + std::to_string(length) +
               "</Length></File>";
    }
};

TEST_F(Catalogue, RetainOutdatedKeepsTheOutdatedInOrder) {
    EXPECT_EQ(Catalog.RetainOutdated(), 0u);
    Temp.Write("prog/current1", "abc");
    Temp.Write("prog/current2", "");
    Temp.Write("prog/longer", "abcdef");
    ASSERT_TRUE(
        LoadText(CatalogueText(Entry("missing1", 1) + Entry("current1", 3) + Entry("longer", 2) +
                               Entry("current2", 0) + Entry("missing2", 7))));
    EXPECT_EQ(Catalog.RetainOutdated(), 3u);
    EXPECT_EQ(Catalog.OutdatedLength(), 1u + 2u + 7u);
    std::vector<std::string> names;
    while (auto e = Catalog.TakeFirst()) {
        EXPECT_TRUE(e->NeedsUpdate);
        names.push_back(e->FileName);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"missing1", "longer", "missing2"}));
    EXPECT_EQ(Catalog.TakeFirst(), nullptr);

    // All current: nothing kept.
    ASSERT_TRUE(LoadText(CatalogueText(Entry("current1", 3) + Entry("current2", 0))));
    EXPECT_EQ(Catalog.RetainOutdated(), 0u);
    EXPECT_EQ(Catalog.Count(), 0u);
}

// A check opens each directory once and keeps a bounded number open: a catalogue that moves
// between more directories than that, back and forth, still decides every file by its own.
TEST_F(Catalogue, RetainOutdatedAcrossManyDirectoriesInAnyOrder) {
    constexpr int kDirectories = 300, kFiles = 900;
    std::string files;
    std::vector<std::string> outdated;
    for (int i = 0; i < kFiles; ++i) {
        // Appended rather than "d" + ...: GCC 12 warns falsely (-Wrestrict) on the sum.
        std::string dir = "d", name = "f";
        dir += std::to_string(i % kDirectories);
        name += std::to_string(i);
        // Every third file is missing and every fifth of another length.
        if (i % 3 != 0) Temp.Write("prog/" + dir + "/" + name, "abc");
        if (i % 3 == 0 || i % 5 == 0) outdated.push_back(name);
        files += "<File><FileName>" + name + "</FileName><Length>" + (i % 5 == 0 ? "4" : "3") +
                 "</Length><LocalPath>" + dir + "</LocalPath></File>";
    }
    ASSERT_TRUE(LoadText(CatalogueText(files)));
    EXPECT_EQ(Catalog.RetainOutdated(), outdated.size());
    std::vector<std::string> names;
    while (auto e = Catalog.TakeFirst()) names.push_back(e->FileName);
    EXPECT_EQ(names, outdated);
}

TEST_F(Catalogue, OutdatedLengthIsSixtyFourBitAndNeverWraps) {
    constexpr uint64_t kGiB = uint64_t{1} << 30;
    ASSERT_TRUE(LoadText(CatalogueText(Entry("a", 3 * kGiB) + Entry("b", 2 * kGiB))));
    Catalog.RetainOutdated();
    EXPECT_EQ(Catalog.OutdatedLength(), 5 * kGiB);

    // "-5" reads as 2^64 - 5; with another entry the sum stops at the top.
    ASSERT_TRUE(LoadText(
        CatalogueText(Entry("a", 10) + "<File><FileName>b</FileName><Length>-5</Length></File>")));
    Catalog.RetainOutdated();
    EXPECT_EQ(Catalog.OutdatedLength(), std::numeric_limits<uint64_t>::max());
}

}  // namespace
}  // namespace toval::test
