// Catalogues written to hurt: entity bombs, external entities pointing at local files and at a
// real web server, huge documents, garbage. Each ends in a defined outcome without expansion,
// fetches or runaway memory.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "catalog/catalog_reader.h"
#include "tests/catalog/catalog_test_util.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace toval::test {
namespace {

class HostileCatalogue : public ::testing::Test, public CatalogueFixture {
  protected:
    // Either the load fails, or whatever it read holds none of `forbidden` and no huge text.
    void ExpectNothingExpanded(const std::string& forbidden) {
        while (auto e = Catalog.TakeFirst()) {
            EXPECT_LT(e->FileName.size(), 1000u);
            EXPECT_EQ(e->FileName.find(forbidden), std::string::npos) << e->FileName;
        }
    }
};

TEST_F(HostileCatalogue, EntityBombsAreNeitherExpandedNorFatal) {
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    // The quadratic variant: one big entity referenced many times.
    std::string quadratic = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY a \"" +
                            std::string(100000, 'a') + "\">]><r><File><FileName>";
    for (int i = 0; i < 20000; ++i) quadratic += "&a;";
    quadratic += "</FileName></File></r>";

    const long before = PeakMemoryKiB();
    for (const std::string& doc :
         {laughs + "]><r><File><FileName>&l10;</FileName></File></r>", quadratic}) {
        LoadText(doc);
        ExpectNothingExpanded("lollol");
        ExpectNothingExpanded("aaaa");
    }
    // Expanding either would take gigabytes.
    EXPECT_LT(PeakMemoryKiB() - before, 200 * 1024);
}

TEST_F(HostileCatalogue, ExternalEntitiesAreNeverRead) {
    const std::string secret = Temp.Write("secret.txt", "TOP-SECRET");
    const std::string docs[] = {
        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secret +
            "\">]><r><File><FileName>&x;</FileName></File></r>",
        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"" + secret +
            "\">]><r><File><FileName>&x;</FileName></File></r>",
        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY % p SYSTEM \"" + secret +
            "\"> %p;]><r><File><FileName>a</FileName></File></r>",
        "<?xml version=\"1.0\"?><r xmlns:xi=\"http://www.w3.org/2001/XInclude\"><File><FileName>"
        "<xi:include href=\"" +
            secret + "\" parse=\"text\"/></FileName></File></r>",
    };
    for (const std::string& doc : docs) {
        SCOPED_TRACE(doc);
        LoadText(doc);
        ExpectNothingExpanded("TOP-SECRET");
    }
}

TEST_F(HostileCatalogue, NoRequestReachesAWebServer) {
    TempDir site;
    site.Write("x.dtd", "<!ENTITY y \"FROM-SERVER\">");
    site.Write("x.txt", "FROM-SERVER");
    HttpServer server;
    server.ServeDirectory(site.Path());
    const std::string docs[] = {
        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"" + server.Url("/x.txt") +
            "\">]><r><File><FileName>&x;</FileName></File></r>",
        "<?xml version=\"1.0\"?><!DOCTYPE r SYSTEM \"" + server.Url("/x.dtd") +
            "\"><r><File><FileName>&y;</FileName></File></r>",
        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY % p SYSTEM \"" + server.Url("/x.dtd") +
            "\"> %p;]><r><File><FileName>&y;</FileName></File></r>",
    };
    for (const std::string& doc : docs) {
        LoadText(doc);
        ExpectNothingExpanded("FROM-SERVER");
    }
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(HostileCatalogue, HugeDocumentsHaveDefinedOutcomes) {
    // About 50 MB of ordinary entries: read in full.
    const std::string entry =
        "<File><FileName>file.dat</FileName><Length>123</Length><URL>http://h/" +
        std::string(600, 'u') + "</URL></File>\r\n";
    const std::size_t count = 50'000'000 / entry.size();
    std::string files;
    files.reserve(count * entry.size());
    for (std::size_t i = 0; i < count; ++i) files += entry;
    ASSERT_TRUE(LoadText(CatalogueText(files)));
    EXPECT_EQ(Catalog.Count(), count);

    // One 50 MB value: past the parser's limit on a single text, refused as a whole.
    EXPECT_FALSE(LoadText(
        CatalogueText("<File><FileName>" + std::string(50'000'000, 'n') + "</FileName></File>")));
    EXPECT_EQ(Catalog.Count(), 0u);

    // Nesting far deeper than any catalogue: refused, not a stack overflow.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<d>";
    EXPECT_FALSE(LoadText("<?xml version=\"1.0\"?><r>" + deep));
}

TEST_F(HostileCatalogue, NestedFilesCannotMultiplyTheirText) {
    // A File inside another's value is two records, the outer value holding the inner's text.
    ASSERT_TRUE(LoadText(
        CatalogueText("<File><FileName>a<File><FileName>b</FileName></File></FileName></File>")));
    ASSERT_EQ(Catalog.Count(), 2u);
    EXPECT_EQ(Catalog.TakeFirst()->FileName, "ab");
    EXPECT_EQ(Catalog.TakeFirst()->FileName, "b");

    // A hundred such levels around 2 MB of text would copy it into every level: 400 MB.
    std::string doc = "<?xml version=\"1.0\"?><r>";
    for (int i = 0; i < 100; ++i) doc += "<File><FileName>";
    doc += std::string(2'000'000, 'n');
    for (int i = 0; i < 100; ++i) doc += "</FileName></File>";
    const long before = PeakMemoryKiB();
    EXPECT_FALSE(LoadText(doc + "</r>"));
    EXPECT_EQ(Catalog.Count(), 0u);
    EXPECT_LT(PeakMemoryKiB() - before, 100 * 1024);
}

TEST_F(HostileCatalogue, MoreFileElementsThanACatalogueHoldsAreRefused) {
    // A record costs far more memory than "<File/>", so the count is capped; dropped entries
    // count too, or a document of unsafe paths would slip past.
    const std::string doc = CatalogueText(
        "<File><FileName>a</FileName></File><File><FileName>../x</FileName></File>"
        "<File><FileName>b</FileName></File>");
    for (const auto& [cap, loads] : {std::pair<std::size_t, bool>{3, true}, {2, false}}) {
        XmlReader reader;
        std::list<std::unique_ptr<CFileEntry>> entries;
        ASSERT_TRUE(reader.OpenMemory(doc));
        EXPECT_EQ(ReadCatalogEntries(reader, Dirs(), entries, cap), loads) << cap;
        EXPECT_EQ(entries.size(), loads ? 2u : 0u) << cap;
    }
}

TEST_F(HostileCatalogue, AFifoIsNotWaitedFor) {
#ifdef _WIN32
    // Windows keeps its pipes outside the file system; a device is what can stand in a path.
    EXPECT_FALSE(Catalog.Load("NUL"));
#else
    const std::string fifo = Temp / "fifo.xml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(Catalog.Load(fifo));
#endif
}

}  // namespace
}  // namespace toval::test
