// The catalogue reader on real files: which elements it reads, the value rules, the encoding,
// and entries whose paths would leave their directory or reach the updater's own files.

#include <gtest/gtest.h>
#include <libxml/encoding.h>

#include <limits>

#include "tests/catalog/catalog_test_util.h"

namespace toval::test {
namespace {

class CatalogReader : public ::testing::Test, public CatalogueFixture {
  protected:
    // Loads one File element with the given children and hands back its record.
    std::unique_ptr<CFileEntry> ReadOne(const std::string& children) {
        EXPECT_TRUE(LoadText(CatalogueText("<File>" + children + "</File>")));
        EXPECT_EQ(Catalog.Count(), 1u);
        return Catalog.TakeFirst();
    }
};

TEST_F(CatalogReader, NumbersFollowTheNumberRule) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    struct Case {
        const char* Text;
        uint64_t Length;
        uint32_t DateWord;
    };
    const Case cases[] = {
        {"12abc", 12, 12},
        {"-5", kMax - 4, 0xFFFFFFFBu},
        {"", 0, 0},
        {"abc", 0, 0},
        {" \t\r\n+42", 42, 42},
        {"3000000000", 3000000000u, 3000000000u},         // over 2^31: no sign flip
        {"4294967296", 4294967296u, 0},                   // over 2^32: the date word wraps
        {"5000000000", 5000000000u, 705032704u},          //
        {"18446744073709551615", kMax, 4294967295u},      // the largest 64-bit length
        {"18446744073709551616", kMax, 0},                // past 64 bits: no wrap to 0
        {"99999999999999999999999", kMax, 0xF67FFFFFu},   // 10^23 - 1 mod 2^32
        {"-99999999999999999999999", kMax, 0x09800001u},  // never a real size, sign or not
        {"+-1", 0, 0},                                    // one sign only
        {"\xA1\xA1\x37", 0, 0},                           // an ideographic space is no space
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        const std::string t = c.Text;
        auto e =
            ReadOne("<Length>" + t + "</Length><FileDateLow>" + t + "</FileDateLow><FileDateHigh>" +
                    t + "</FileDateHigh><FileName>a</FileName>");
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Length, c.Length);
        EXPECT_EQ(e->FileDate.dwLowDateTime, c.DateWord);
        EXPECT_EQ(e->FileDate.dwHighDateTime, c.DateWord);
    }
}

TEST_F(CatalogReader, FlagsAreSetOnlyByYes) {
    const std::pair<const char*, bool> cases[] = {
        {"YES", true}, {"yes", true},   {"Yes", true},       {"NO", false},   {"", false},
        {"1", false},  {"TRUE", false}, {"REGISTER", false}, {" YES", false}, {"YES ", false},
    };
    for (const auto& [text, set] : cases) {
        SCOPED_TRACE(text);
        const std::string t = text;
        auto e = ReadOne("<FileName>f</FileName><Register>" + t + "</Register><ZipFile>" + t +
                         "</ZipFile><ForceOverwrite>" + t + "</ForceOverwrite><Execute>" + t +
                         "</Execute><Executable>" + t + "</Executable>");
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Register, set);
        EXPECT_EQ(e->ZipFile, set);
        EXPECT_EQ(e->ForceOverwrite, set);
        EXPECT_EQ(e->Execute, set);
        // A value it does not know never refuses the entry: it only adds execute bits.
        EXPECT_EQ(e->Executable, set);
    }
    // Like the other children: any letter case, the last one wins, and only as File's child.
    const std::pair<const char*, bool> placed[] = {
        {"<EXECUTABLE>yes</EXECUTABLE>", true},
        {"<Executable>YES</Executable><Executable>1</Executable>", false},
        {"<Executable/><Executable>YES</Executable>", true},
        {"<Patch><Executable>YES</Executable></Patch>", false},
        {"<x><Executable>YES</Executable></x>", false},
    };
    for (const auto& [children, set] : placed) {
        SCOPED_TRACE(children);
        auto e = ReadOne("<FileName>f</FileName>" + std::string(children));
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Executable, set);
        EXPECT_FALSE(e->Execute);
    }
}

TEST_F(CatalogReader, ReadsEveryFieldAndResolvesThePath) {
    auto e = ReadOne(
        "<FileName>a.dll</FileName><FileVersion>1.2.3.4</FileVersion>"
        "<ProductVersion>5.6.7.8</ProductVersion><Length>10</Length><FileDateLow>1</FileDateLow>"
        "<FileDateHigh>2</FileDateHigh><InstallDir>windowsdir</InstallDir><Register>YES</Register>"
        "<ExecutePar>-q &amp; &lt;x&gt;</ExecutePar><LocalPath>data\\maps</LocalPath>"
        "<URL>http://h/a.dll</URL><UserName>u</UserName><Password>p</Password>"
        "<unknown>x</unknown><!-- note -->text");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->FileName, "a.dll");
    EXPECT_EQ(e->FileVersion, "1.2.3.4");
    EXPECT_EQ(e->ProductVersion, "5.6.7.8");
    EXPECT_EQ(e->Length, 10u);
    EXPECT_EQ(FileTimeToU64(e->FileDate), (uint64_t{2} << 32) | 1);
    EXPECT_EQ(e->InstallDir, "windowsdir");
    EXPECT_TRUE(e->Register);
    EXPECT_EQ(e->ExecutePar, "-q & <x>");
    EXPECT_EQ(e->LocalPath, "data\\maps");
    EXPECT_EQ(e->URL, "http://h/a.dll");
    EXPECT_EQ(e->UserName, "u");
    EXPECT_EQ(e->Password, "p");
    EXPECT_EQ(e->FullPath, Temp / "win/data/maps/a.dll");
}

TEST_F(CatalogReader, DefaultsNamesAndDuplicates) {
    // Only FileName and URL: every other field keeps its default.
    auto e = ReadOne("<FileName>a.dll</FileName><URL>http://h/a</URL>");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->InstallDir, "CURRENTDIR");
    EXPECT_FALSE(e->Register || e->ZipFile || e->ForceOverwrite || e->Execute);
    EXPECT_EQ(e->Length, 0u);
    EXPECT_EQ(FileTimeToU64(e->FileDate), 0u);
    EXPECT_EQ(e->FullPath, Temp / "prog/a.dll");

    // Child names ignore ASCII case; the last duplicate wins; CDATA and text both count.
    e = ReadOne("<FILENAME>b</FILENAME><url>http://1</url><Url>http://<![CDATA[2&]]></Url>");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->FileName, "b");
    EXPECT_EQ(e->URL, "http://2&");

    // Text is taken as it stands, white space included.
    e = ReadOne("<FileName> c </FileName><ExecutePar>\n</ExecutePar>");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->FileName, " c ");
    EXPECT_EQ(e->ExecutePar, "\n");
}

TEST_F(CatalogReader, FindsFileElementsAnywhereInDocumentOrder) {
    const std::string doc =
        "<?xml version=\"1.0\"?><Root>"
        "<File><FileName>1</FileName></File>"      // directly under the root, no Product
        "<file><FileName>lower</FileName></file>"  // not a File element
        "<x:File xmlns:x=\"urn:x\"><FileName>ns</FileName></x:File>"
        "<deep><deeper><File><FileName>2</FileName></File></deeper></deep>"
        "<Product><File><FileName>3</FileName></File><File><FileName>3</FileName></File></Product>"
        "</Root>";
    ASSERT_TRUE(LoadText(doc));
    std::vector<std::string> names;
    while (auto e = Catalog.TakeFirst()) names.push_back(e->FileName);
    EXPECT_EQ(names, (std::vector<std::string>{"1", "2", "3", "3"}));

    // Mirrors count as the Product's own children only, and only as plain origins.
    ASSERT_TRUE(
        LoadText("<?xml version=\"1.0\"?><xmlRoot><Product>"
                 "<Mirror>http://a.example</Mirror><Mirror>ftp://b.example</Mirror>"
                 "<Mirror>https://[::1]:8443</Mirror><Mirror>http://c.example/x</Mirror>"
                 "<File><Mirror>http://d.example</Mirror></File>"
                 "<Mirror><i>http://e.example</i></Mirror></Product>"
                 "<Mirror>http://f.example</Mirror></xmlRoot>"));
    EXPECT_EQ(Catalog.Mirrors(),
              (std::vector<std::string>{"http://a.example", "https://[::1]:8443"}));

    // A patch counts only whole: the hash it starts from, its URL and a length above zero.
    const std::string from(64, 'a');
    ASSERT_TRUE(
        LoadText("<?xml version=\"1.0\"?><xmlRoot><Product><File><FileName>p</FileName>"
                 "<Patch><From>" +
                 from +
                 "</From><URL>patches/1.zst</URL><Length>12</Length></Patch>"
                 "<Patch><From>abc</From><URL>patches/2.zst</URL><Length>12</Length></Patch>"
                 "<Patch><From>" +
                 from +
                 "</From><URL>patches/3.zst</URL><Length>0</Length></Patch>"
                 "<Patch><From>" +
                 from +
                 "</From><Length>12</Length></Patch>"
                 "<Patch><From>" +
                 from +
                 "</From><URL>patches/5.zst</URL><Length>1x</Length></Patch>"
                 "</File></Product></xmlRoot>"));
    const std::unique_ptr<CFileEntry> patched = Catalog.TakeFirst();
    ASSERT_EQ(patched->Patches.size(), 1u);
    EXPECT_EQ(patched->Patches[0].URL, "patches/1.zst");
    EXPECT_EQ(patched->Patches[0].Length, 12u);

    // A document without File elements is a valid, empty catalogue.
    EXPECT_TRUE(LoadText("<?xml version=\"1.0\"?><xmlRoot/>"));
    EXPECT_EQ(Catalog.Count(), 0u);
}

TEST_F(CatalogReader, DecodesGb2312AsCodePage936) {
    // 镕 E9 46, 眾 B1 8A, 臺 C5 5F: in code page 936 but not in strict GB2312.
    const std::string gbk = "\xE9\x46\xB1\x8A\xC5\x5F";
    ASSERT_TRUE(LoadText(CatalogueText("<File><FileName>" + gbk + ".dat</FileName><LocalPath>" +
                                       gbk + "\\\xB5\xD8\xCD\xBC</LocalPath></File>")));
    auto e = Catalog.TakeFirst();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->FileName, "镕眾臺.dat");
    EXPECT_EQ(e->LocalPath, "镕眾臺\\地图");
    EXPECT_EQ(e->FullPath, Temp / "prog/镕眾臺/地图/镕眾臺.dat");

    // Any case of the name, as publishers write it.
    ASSERT_TRUE(LoadText("<?xml version=\"1.0\" encoding=\"gb2312\"?><r><File><FileName>" + gbk +
                         "</FileName></File></r>"));
    EXPECT_EQ(Catalog.TakeFirst()->FileName, "镕眾臺");
}

// The decoder libxml2 calls for "GB2312", called as libxml2 calls it: with room for part of the
// text, or for less than one character, and with a character cut off at the end of its input.
TEST_F(CatalogReader, Gb2312DecoderTakesWholeCharactersAndStopsWhenFull) {
    xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler("GB2312");
    ASSERT_NE(handler, nullptr);
    ASSERT_NE(handler->input, nullptr);
    struct Case {
        const char* name;
        std::string in;
        int room;
        int consumed;     // bytes of `in` taken
        std::string out;  // what they made
        bool refused;
    };
    const Case cases[] = {
        {"ASCII and characters",
         "a\xB5\xD8"
         "b\xE9\x46",
         64, 6, "a地b镕", false},
        {"a trail byte in the ASCII range is not ASCII", "\xE9\x46\xE9\x46", 64, 4, "镕镕", false},
        {"no room for one character", "\xB5\xD8", 2, 0, "", false},
        {"room for the first character only", "\xB5\xD8\xCD\xBC", 4, 2, "地", false},
        {"room for part of the ASCII", "abcdef", 3, 3, "abc", false},
        {"a lead byte waits for its trail", "ab\xB5", 64, 2, "ab", false},
        {"no character of the code page",
         "a\x81\x20"
         "b",
         64, 1, "a", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char out[64];
        int outlen = c.room, inlen = static_cast<int>(c.in.size());
        const int made = handler->input(
            out, &outlen, reinterpret_cast<const unsigned char*>(c.in.data()), &inlen);
        EXPECT_EQ(made < 0, c.refused);
        EXPECT_EQ(inlen, c.consumed);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<std::size_t>(outlen)),
                  c.out);
    }
}

// The parser reads and decodes a document in pieces; a character whose two bytes fall into two
// pieces must come out whole, whether the catalogue is read from a file or from memory.
TEST_F(CatalogReader, TwoByteCharactersAcrossTheParsersBuffers) {
    // 镕 (code page 936 only) 地 图: six bytes, three characters.
    const std::string gbk = "\xE9\x46\xB5\xD8\xCD\xBC";
    const std::string utf8 = "镕地图";
    // One long name whose characters all start at odd offsets, so that every read or conversion
    // piece of even size ends inside a character ...
    const std::string opening = "<File><FileName>";
    const std::size_t at = CatalogueText("").find("\t</Product>") + opening.size();
    const std::string pad = at % 2 == 0 ? "x" : "";
    std::string files = opening + pad;
    std::vector<std::string> expected = {pad};
    for (int i = 0; i < 40000; ++i) {
        files += gbk;
        expected[0] += utf8;
    }
    files += "</FileName></File>";
    // ... and many short ones of both parities, for pieces of any other size.
    for (int i = 0; i < 3000; ++i) {
        const std::string ascii(1 + i % 4, 'a');
        files += opening + ascii + gbk + "</FileName></File>";
        expected.push_back(ascii + utf8);
    }
    const std::string text = CatalogueText(files);
    for (const bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile ? "file" : "memory");
        ASSERT_TRUE(fromFile ? LoadText(text) : Catalog.LoadBytes(text));
        ASSERT_EQ(Catalog.Count(), expected.size());
        for (const std::string& name : expected) {
            const std::unique_ptr<CFileEntry> e = Catalog.TakeFirst();
            ASSERT_EQ(e->FileName, name);
        }
    }
}

TEST_F(CatalogReader, DropsEntriesThatLeaveTheirDirectory) {
    ASSERT_TRUE(LoadText(
        CatalogueText("<File><FileName>ok1</FileName></File>"
                      "<File><FileName>..\\..\\etc\\passwd</FileName></File>"
                      "<File><FileName>a</FileName><LocalPath>..</LocalPath></File>"
                      "<File><FileName>a</FileName><LocalPath>data\\..\\..\\x</LocalPath></File>"
                      "<File><FileName>/etc/passwd</FileName></File>"
                      "<File><FileName>a</FileName><LocalPath>\\tmp</LocalPath></File>"
                      "<File><FileName>a</FileName><LocalPath>C:\\Windows</LocalPath></File>"
                      "<File><FileName>ok2</FileName><LocalPath>sub</LocalPath></File>")));
    std::vector<std::string> paths;
    while (auto e = Catalog.TakeFirst()) paths.push_back(e->FullPath);
    EXPECT_EQ(paths, (std::vector<std::string>{Temp / "prog/ok1", Temp / "prog/sub/ok2"}));
}

TEST_F(CatalogReader, DropsEntriesNamedLikeTheUpdatersOwnFiles) {
    // A download of game.bin goes to game.bin.update, its patch to game.bin.toval-patch.update,
    // each with a resume record beside it: no listed file may be any of them, in any letter case.
    const std::pair<std::string, bool> cases[] = {
        {"game.bin.update", false},
        {"game.bin.UPDATE", false},
        {"game.bin.update-resume", false},
        {"game.bin.toval-patch", false},
        {"game.bin.Toval-Patch", false},
        {"game.bin.toval-patch.update", false},
        {"a~0123456789abcdef.update", false},  // a shortened download name
        {"sub\\game.bin.update", false},
        {"game.bin.update.", false},  // the same name on Windows
        {"game.bin.update ", false},
        {".update", false},
        {"game.bin", true},
        {"game.update.bin", true},
        {"game.bin.updates", true},
        {"game.bin.toval-patches", true},
        {"toval-patch", true},
        {"game.bin.update\\inside", true},  // only the file's own name counts
    };
    for (const auto& [name, kept] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(LoadText(CatalogueText("<File><FileName>" + name + "</FileName></File>")));
        EXPECT_EQ(Catalog.Count(), kept ? 1u : 0u);
    }
}

TEST_F(CatalogReader, DropsEntriesInTheStateDirectory) {
    // What the updater keeps beside the program (serial floors, run lock, kept catalogue) is
    // never a client file, however the catalogue spells its way there.
    struct Case {
        std::string LocalPath, FileName, InstallDir;
        bool Kept;
    };
    const Case cases[] = {
        {"", ".toval-updater\\serials", "", false},
        {".toval-updater", "serials", "", false},
        {".toval-updater", "run.lock", "CURRENTDIR", false},
        {"", ".TOVAL-Updater/catalogue.info", "", false},
        {".toval-updater. ", "serials", "", false},  // the same directory on Windows
        {".\\.toval-updater", "serials", "", false},
        {"", "./.toval-updater/x/y", "", false},
        {"", ".toval-updater", "", false},  // a file in its place would block it
        {"", ".toval-updater", "WINDOWSDIR", true},
        {".toval-updater", "serials", "SYSTEMDIR", true},
        {"data\\.toval-updater", "serials", "", true},
        {"", ".toval-updaters/serials", "", true},
        {"", "toval-updater/serials", "", true},
        {"", "toval-updater.pub", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.LocalPath + " | " + c.FileName + " | " + c.InstallDir);
        ASSERT_TRUE(LoadText(CatalogueText(
            "<File><LocalPath>" + c.LocalPath + "</LocalPath><FileName>" + c.FileName +
            "</FileName><InstallDir>" + c.InstallDir + "</InstallDir></File>")));
        EXPECT_EQ(Catalog.Count(), c.Kept ? 1u : 0u);
    }
}

TEST_F(CatalogReader, AFailedLoadLeavesTheCatalogueEmpty) {
    const std::string full = CatalogueText("<File><FileName>a</FileName></File>");
    const std::pair<const char*, std::string> failures[] = {
        {"not well-formed", "<?xml version=\"1.0\"?><r><File></r>"},
        {"truncated", full.substr(0, full.size() / 2)},
        {"unknown encoding", "<?xml version=\"1.0\" encoding=\"X-NOPE\"?><r><File/></r>"},
        {"no root", "<?xml version=\"1.0\"?>"},
        {"empty", ""},
        {"binary", std::string("\x00\xFF\xFE\x01\x89PNG\r\n", 10)},
        {"bad bytes for the encoding", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>\xFF</r>"},
        {"a lead byte without its second byte",
         CatalogueText("<File><FileName>\xE9\x20</FileName></File>")},
        {"overlong UTF-8 in CDATA",
         "<?xml version=\"1.0\"?><r><File><FileName><![CDATA[\xC1\x8A]]></FileName></File></r>"},
        {"content after the root", full + "<File><FileName>b</FileName></File>"},
    };
    for (const auto& [what, text] : failures) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(LoadText(full));
        ASSERT_EQ(Catalog.Count(), 1u);
        EXPECT_FALSE(LoadText(text));
        EXPECT_EQ(Catalog.Count(), 0u);
    }
    ASSERT_TRUE(LoadText(full));
    EXPECT_FALSE(Catalog.Load(Temp / "missing.xml"));
    EXPECT_EQ(Catalog.Count(), 0u);
    EXPECT_FALSE(Catalog.Load(Temp.Path()));  // a directory
    EXPECT_EQ(Catalog.Count(), 0u);
}

}  // namespace
}  // namespace toval::test
