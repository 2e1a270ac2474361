// The records of a catalogue kept beside it: used only for the very bytes and place they were
// read for, whole, and then the same records as a parse gives.

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "catalog/catalog_values.h"
#include "catalog/parsed_catalogue.h"
#include "tests/catalog/catalog_test_util.h"

namespace toval::test {
namespace {

Sha256Digest HashOf(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes);
    return *hash.Final();
}

std::string File(const std::string& name) {
    return "<File><FileName>" + name + "</FileName><Length>1</Length></File>";
}

class KeptParse : public ::testing::Test, public CatalogueFixture {
  protected:
    KeptParse() { std::filesystem::create_directories(State()); }

    std::string State() const { return Temp / "prog/.toval-updater"; }
    std::string Kept() const { return State() + "/catalogue.parsed"; }

    std::vector<std::string> Names() {
        std::vector<std::string> names;
        while (auto e = Catalog.TakeFirst()) names.push_back(e->FileName);
        return names;
    }
    // Keeps the records of a catalogue of `names` as if they were those of `key`'s bytes.
    void Plant(const Sha256Digest& key, const BaseDirectories& dirs,
               const std::vector<std::string>& names) {
        std::list<std::unique_ptr<CFileEntry>> entries;
        for (const std::string& n : names) entries.push_back(std::make_unique<CFileEntry>(n));
        for (auto& e : entries) e->FileName = e->FullPath;
        ASSERT_TRUE(KeepParsedCatalogue(State(), key, dirs, entries, {}, false));
    }
};

TEST_F(KeptParse, UsedOnlyForTheSameBytesAndPlaceAndWhole) {
    const std::string text = CatalogueText(File("a") + File("b"));
    const std::string path = Temp.Write("cat.xml", text);
    const BaseDirectories elsewhere{Temp / "moved", Temp / "win", Temp / "sys"};
    const std::vector<std::string> parsed = {"a", "b"}, planted = {"planted"};
    struct Case {
        const char* name;
        void (*spoil)(std::string& kept);  // applied to a form planted for these bytes
        bool otherBytes, otherPlace;
        bool used;
    };
    const Case cases[] = {
        {"whole, for these bytes and this place", nullptr, false, false, true},
        {"for another catalogue", nullptr, true, false, false},
        {"for a client in another directory", nullptr, false, true, false},
        {"a byte of a record changed", [](std::string& k) { k[k.size() - 3] ^= 1; }, false, false,
         false},
        {"torn", [](std::string& k) { k.resize(k.size() / 2); }, false, false, false},
        {"with bytes after its end", [](std::string& k) { k += '\0'; }, false, false, false},
        {"its own hash changed", [](std::string& k) { k[8 + 32] ^= 1; }, false, false, false},
        {"empty", [](std::string& k) { k.clear(); }, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Plant(c.otherBytes ? HashOf(text + " ") : HashOf(text), c.otherPlace ? elsewhere : Dirs(),
              planted);
        if (c.spoil) {
            std::string kept = ReadFile(Kept());
            c.spoil(kept);
            Temp.Write("prog/.toval-updater/catalogue.parsed", kept);
        }
        for (const bool inMemory : {false, true}) {
            ASSERT_TRUE(inMemory ? Catalog.LoadBytes(text, State()) : Catalog.Load(path, State()));
            EXPECT_EQ(Names(), c.used ? planted : parsed);
        }
        // What was not used was replaced by the parse's records.
        const std::optional<ParsedCatalogue> now =
            LoadParsedCatalogue(State(), HashOf(text), Dirs());
        ASSERT_TRUE(now.has_value());
        EXPECT_EQ(now->Entries.size(), c.used ? 1u : 2u);
    }
}

// Every value a record carries comes back as the parse gave it.
TEST_F(KeptParse, GivesTheRecordsAParseGives) {
    const std::string text =
        "<?xml version=\"1.0\" encoding=\"GB2312\"?><xmlRoot><Product>"
        "<Mirror>http://m.example</Mirror><File><FileName>g.exe</FileName>"
        "<FileVersion>1.2.3.4</FileVersion><ProductVersion>5.6</ProductVersion>"
        "<Length>5000000000</Length><FileDateLow>7</FileDateLow><FileDateHigh>8</FileDateHigh>"
        "<InstallDir>SYSTEMDIR</InstallDir><Register>YES</Register><ZipFile>YES</ZipFile>"
        "<ForceOverwrite>YES</ForceOverwrite><Execute>YES</Execute><ExecutePar>-x \xd6\xd0"
        "</ExecutePar><LocalPath>sub\\dir</LocalPath><URL>files/g.exe</URL><UserName>u"
        "</UserName><Password>p</Password><Sha256>" +
        std::string(64, 'c') + "</Sha256><Executable>YES</Executable><Patch><From>" +
        std::string(64, 'a') + "</From><URL>patches/1.zst</URL><Length>12</Length></Patch></File>" +
        File("plain") + "</Product></xmlRoot>";
    const std::string path = Temp.Write("cat.xml", text);
    std::vector<std::unique_ptr<CFileEntry>> runs[2];
    std::vector<std::string> mirrors[2];
    for (auto& run : runs) {  // parsed, then from what the first run kept
        ASSERT_TRUE(Catalog.Load(path, State()));
        mirrors[&run - runs] = Catalog.Mirrors();
        while (auto e = Catalog.TakeFirst()) run.push_back(std::move(e));
    }
    EXPECT_EQ(mirrors[0], std::vector<std::string>{"http://m.example"});
    EXPECT_EQ(mirrors[1], mirrors[0]);
    ASSERT_EQ(runs[0].size(), 2u);
    ASSERT_EQ(runs[1].size(), 2u);
    for (std::size_t i = 0; i < runs[0].size(); ++i) {
        const CFileEntry &a = *runs[0][i], &b = *runs[1][i];
        for (const CatalogField& f : kCatalogFields) EXPECT_EQ(f.Text(a), f.Text(b)) << f.Name;
        EXPECT_EQ(a.FullPath, b.FullPath);
        EXPECT_EQ(a.Executable, b.Executable);
        ASSERT_EQ(a.Patches.size(), b.Patches.size());
        for (std::size_t p = 0; p < a.Patches.size(); ++p) {
            EXPECT_EQ(a.Patches[p].FromSha256, b.Patches[p].FromSha256);
            EXPECT_EQ(a.Patches[p].URL, b.Patches[p].URL);
            EXPECT_EQ(a.Patches[p].Length, b.Patches[p].Length);
        }
    }
    EXPECT_TRUE(runs[0][0]->Executable);
    EXPECT_EQ(runs[0][0]->Patches.size(), 1u);
}

// Signed mode refuses a catalogue with a file it does not pin by hash: a launch that reads the
// kept records must reach the same verdict as the parse did.
TEST_F(KeptParse, KeepsWhetherEveryFileIsHashed) {
    const std::string hash = "<Sha256>" + std::string(64, 'c') + "</Sha256>";
    const auto hashed = [&](const std::string& name, const std::string& sha) {
        return "<File><FileName>" + name + "</FileName><Length>1</Length>" + sha + "</File>";
    };
    const struct {
        const char* name;
        std::string files;
        bool everyHashed;
    } cases[] = {
        {"all", hashed("a", hash) + hashed("b", hash), true},
        {"one without", hashed("a", hash) + File("b"), false},
        {"one of 63 digits",
         hashed("a", hash) + hashed("b", "<Sha256>" + std::string(63, 'c') + "</Sha256>"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = CatalogueText(c.files);
        for (const char* run : {"parsed", "kept"}) {
            SCOPED_TRACE(run);
            ASSERT_TRUE(Catalog.LoadBytes(text, State()));
            EXPECT_EQ(Catalog.EveryEntryHashed(), c.everyHashed);
            ASSERT_TRUE(LoadParsedCatalogue(State(), HashOf(text), Dirs()).has_value());
        }
    }
}

}  // namespace
}  // namespace toval::test
