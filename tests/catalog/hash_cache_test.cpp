// The update decision of signed catalogues, where a file's bytes must match its Sha256, and the
// hash cache in the state directory that keeps such a check from reading a current client again.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <vector>

#include "catalog/file_probe.h"
#include "catalog/hash_cache.h"
#include "tests/catalog/catalog_test_util.h"

namespace toval::test {
namespace {

std::string HexOf(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes);
    const Sha256Digest digest = *hash.Final();
    return ToHex(digest.data(), digest.size());
}

class HashDecides : public ::testing::Test, public CatalogueFixture {
  protected:
    HashDecides() { std::filesystem::create_directories(State()); }

    std::string State() const { return Temp / "prog/.toval-updater"; }

    // One file "f" whose published content is `published`; `later` puts the catalogue's time
    // past any local file's.
    bool LoadFor(const std::string& published, bool later = false) {
        return LoadText(CatalogueText("<File><FileName>f</FileName><Length>" +
                                      std::to_string(published.size()) + "</Length>" +
                                      (later ? "<FileDateHigh>4294967295</FileDateHigh>" : "") +
                                      "<Sha256>" + HexOf(published) + "</Sha256></File>"));
    }

    // Whether "f" is out of date against `published`.
    bool Outdated(const std::string& published, bool signedMode, bool later = false) {
        EXPECT_TRUE(LoadFor(published, later));
        std::optional<HashCache> hashes;
        if (signedMode) hashes = HashCache::Load(State());
        const bool outdated = Catalog.RetainOutdated(hashes ? &*hashes : nullptr) == 1;
        if (hashes) hashes->Save();
        return outdated;
    }

    FileIdentity IdentityOfF() const {
        return LocalFile(Temp / "prog/f", LocalFile::WithIdentity{}).Identity();
    }
};

TEST_F(HashDecides, SignedOtherBytesAreOutdatedWhateverTheLengthAndTimeSay) {
    const std::string published = "the publisher's bytes";
    struct Case {
        const char* name;
        std::optional<std::string> local;  // none: missing
        bool later;                        // the catalogue's time is past the local file's
        bool outdatedSigned, outdatedUnsigned;
    };
    const Case cases[] = {
        {"the same bytes", published, false, false, false},
        {"other bytes of the same length", "the publisher's byteZ", false, true, false},
        {"other bytes of another length", "short", false, true, true},
        {"missing", std::nullopt, false, true, true},
        {"the same bytes, older than the catalogue says", published, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(Temp / "prog/f");
        if (c.local) Temp.Write("prog/f", *c.local);
        EXPECT_EQ(Outdated(published, true, c.later), c.outdatedSigned);
        // Twice: the second time the cache answers.
        EXPECT_EQ(Outdated(published, true, c.later), c.outdatedSigned);
        EXPECT_EQ(Outdated(published, false, c.later), c.outdatedUnsigned);
    }
}

TEST_F(HashDecides, TheCacheAnswersForAFileItKnowsAndADamagedOneIsRebuilt) {
    // The local file differs from the published one; a cache that claims otherwise for the
    // file's identity is believed, so long as it is whole.
    const std::string published = "published", local = "PUBLISHED";
    const std::string cachePath = State() + "/hashes";
    struct Case {
        const char* name;
        void (*damage)(std::string& cache);
        bool outdated;
    };
    const Case cases[] = {
        {"whole", [](std::string&) {}, false},
        {"a flipped bit", [](std::string& c) { c[c.size() - 20] ^= 1; }, true},
        {"torn at the end", [](std::string& c) { c.pop_back(); }, true},
        {"a foreign header", [](std::string& c) { c[0] = 'X'; }, true},
        {"empty", [](std::string& c) { c.clear(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Temp.Write("prog/f", local);
        std::filesystem::remove(cachePath);
        HashCache lie = HashCache::Load(State());
        lie.Add(IdentityOfF(), *ParseSha256Hex(HexOf(published)));
        ASSERT_TRUE(lie.Save());
        std::string bytes = ReadFile(cachePath);
        c.damage(bytes);
        Temp.Write("prog/.toval-updater/hashes", bytes);

        EXPECT_EQ(Outdated(published, true), c.outdated);
        // Whatever it held, the cache now holds a hash for the file, the true one when it was
        // rebuilt.
        HashCache after = HashCache::Load(State());
        const Sha256Digest* known = after.Find(IdentityOfF());
        ASSERT_NE(known, nullptr);
        EXPECT_EQ(ToHex(known->data(), known->size()), HexOf(c.outdated ? local : published));
    }
}

TEST_F(HashDecides, InstalledFilesAreRecordedAndAFileChangedSinceIsReadAgain) {
    const std::string published = "installed bytes";
    Temp.Write("prog/g", "another installed file");
    ASSERT_TRUE(InstalledHashes(State()).Record(Temp / "prog/g", HexOf("another installed file")));
    Temp.Write("prog/f", "INSTALLED BYTES");
    // Recorded as if the download had been checked against the published hash: the check
    // believes the record and reads nothing.
    ASSERT_TRUE(InstalledHashes(State()).Record(Temp / "prog/f", HexOf(published)));
    EXPECT_EQ(HashCache::Load(State()).Size(), 2u);
    EXPECT_FALSE(Outdated(published, true));

    // Written again with the same length and time, the file is another: read, and found out.
    const auto time = std::filesystem::last_write_time(Temp / "prog/f");
    Temp.Write("prog/f", "INSTALLED BYTEZ");
    std::filesystem::last_write_time(Temp / "prog/f", time);
    EXPECT_TRUE(Outdated(published, true));
}

// A file changed behind the updater's back after its hash was learnt, each way that leaves its
// length alone: its old hash must not answer for it.
TEST_F(HashDecides, AFileChangedBehindTheUpdatersBackIsReadAgain) {
    const std::string published = "published bytes";
    const std::string path = Temp / "prog/f";
    struct Case {
        const char* name;
        void (*change)(const std::string& path);
    };
    const Case cases[] = {
        {"same length, a new time",
         [](const std::string& p) {
             std::filesystem::last_write_time(
                 p, std::filesystem::last_write_time(p) + std::chrono::seconds(10));
         }},
        {"same length and time, a new file in its place",
         [](const std::string& p) {
             const auto time = std::filesystem::last_write_time(p);
             ASSERT_TRUE(WriteFileAt(p + ".new", ReadFileAt(p)));
             std::filesystem::last_write_time(p + ".new", time);
             std::filesystem::rename(p + ".new", p);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(State() + "/hashes");
        // Other bytes, recorded as if they were the published ones: believed while unchanged.
        Temp.Write("prog/f", "PUBLISHED BYTES");
        ASSERT_TRUE(InstalledHashes(State()).Record(path, HexOf(published)));
        EXPECT_FALSE(Outdated(published, true));
        c.change(path);
        EXPECT_TRUE(Outdated(published, true));
    }
}

TEST_F(HashDecides, TheCacheFindsHashesInAnyOrderAndKeepsTheOrderAskedFor) {
    const char* names[] = {"a", "b", "c", "d"};
    std::vector<FileIdentity> ids;
    for (const char* name : names) {
        Temp.Write(std::string("prog/") + name, name);
        ASSERT_TRUE(
            InstalledHashes(State()).Record(Temp / (std::string("prog/") + name), HexOf(name)));
        ids.push_back(
            LocalFile(Temp / (std::string("prog/") + name), LocalFile::WithIdentity{}).Identity());
    }
    FileIdentity unknown = ids[0];
    ++unknown.Changed;
    // Out of order, then in order from where the last answer was, with an unknown between.
    const std::vector<std::size_t> asked = {2, 0, 1, 3};
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        HashCache cache = HashCache::Load(State());
        EXPECT_EQ(cache.Find(unknown), nullptr);
        for (const std::size_t i : asked) {
            const Sha256Digest* known = cache.Find(ids[i]);
            ASSERT_NE(known, nullptr) << names[i];
            EXPECT_EQ(ToHex(known->data(), known->size()), HexOf(names[i]));
        }
        EXPECT_EQ(cache.Find(unknown), nullptr);
        ASSERT_TRUE(cache.Save());
    }
}

}  // namespace
}  // namespace toval::test
