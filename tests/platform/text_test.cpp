#include "platform/text.h"

#include <gtest/gtest.h>

namespace toval {
namespace {

TEST(Text, AsciiCaseFolding) {
    struct Row {
        std::string_view A;
        std::string_view B;
        int Order;
    };
    const Row rows[] = {
        {"", "", 0},
        {"WindowsDir", "WINDOWSDIR", 0},
        {"yes", "YES", 0},
        {"YE", "YES", -1},             // a proper prefix first
        {"_", "a", -1},                // folded down, not up: '_' lies between 'Z' and 'a'
        {"[", "{", -1},                // only letters fold
        {"\xC3\xA9", "z", 1},          // bytes unsigned: UTF-8 after ASCII
        {"\xC3\x89", "\xC3\xA9", -1},  // no folding beyond ASCII
        {"a\xC3\x89x", "A\xC3\x89X", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.A) + " | " + std::string(row.B));
        EXPECT_EQ(CompareIgnoringAsciiCase(row.A, row.B), row.Order);
        EXPECT_EQ(CompareIgnoringAsciiCase(row.B, row.A), -row.Order);
        EXPECT_EQ(EqualsIgnoringAsciiCase(row.A, row.B), row.Order == 0);
    }
    EXPECT_TRUE(StartsWithIgnoringAsciiCase("HTTPS://h/x", "https://"));
    EXPECT_TRUE(StartsWithIgnoringAsciiCase("x", ""));
    EXPECT_FALSE(StartsWithIgnoringAsciiCase("http:", "http://"));
    EXPECT_FALSE(StartsWithIgnoringAsciiCase("ftp://h", "http://"));
}

TEST(Text, DecodesOnlyWellFormedUtf8) {
    struct Row {
        std::string_view Bytes;
        std::size_t Size;  // 0: malformed
        char32_t CodePoint;
    };
    const Row rows[] = {
        {"A", 1, 'A'},
        {"\xC2\x80", 2, 0x80},
        {"\xE5\x9C\xB0x", 3, 0x5730},
        {"\xEF\xBF\xBF", 3, 0xFFFF},
        {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
        {"", 0, 0},
        {"\x80", 0, 0},              // a continuation byte leads
        {"\xC1\xBF", 0, 0},          // overlong
        {"\xE0\x9F\xBF", 0, 0},      // overlong
        {"\xF0\x8F\xBF\xBF", 0, 0},  // overlong
        {"\xED\xA0\x80", 0, 0},      // a surrogate
        {"\xF4\x90\x80\x80", 0, 0},  // past U+10FFFF
        {"\xF8\x88\x80\x80\x80", 0, 0},
        {"\xE5\x9C", 0, 0},  // cut short
        {"\xC3\x28", 0, 0},  // no continuation byte
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(std::string(row.Bytes)));
        char32_t c = 0;
        EXPECT_EQ(DecodeUtf8(row.Bytes, c), row.Size);
        if (row.Size != 0) {
            EXPECT_EQ(c, row.CodePoint);
        }
    }
}

TEST(Text, TheFrontOfANumber) {
    struct Row {
        std::string_view Text;
        bool Negative;
        std::string_view Rest;
    };
    const Row rows[] = {
        {"", false, ""},
        {" \t\n\v\f\r-12", true, "12"},
        {"+7", false, "7"},
        {"+-1", false, "-1"},             // one sign only
        {"- 5", true, " 5"},              // no white space after the sign
        {"\xC2\xA0", false, "\xC2\xA0"},  // no-break space is no C space
        {"\x1C", false, "\x1C"},
    };
    for (const Row& row : rows) {
        std::string_view text = row.Text;
        EXPECT_EQ(TakeSpaceAndSign(text), row.Negative) << row.Text;
        EXPECT_EQ(text, row.Rest) << row.Text;
    }
}

TEST(Text, DecimalDigits) {
    struct Row {
        std::string_view Text;
        std::optional<unsigned> Ascii;
        std::optional<unsigned> Unicode;
    };
    const std::optional<unsigned> none;
    const Row rows[] = {
        {"0", 0, 0},
        {"9x", 9, 9},
        {"/", none, none},
        {":", none, none},
        {"１", none, 1},  // full-width
        {"９", none, 9},
        {"：", none, none},        // just past the full-width run
        {"٤", none, 4},            // Arabic-Indic
        {"٪", none, none},         // just past the Arabic-Indic run
        {"९", none, 9},            // Devanagari
        {"𝟏", none, 1},            // mathematical bold
        {"𝟿", none, 9},            // last of the mathematical runs
        {"²", none, none},         // a superscript is no decimal digit
        {"七", none, none},        // nor a CJK numeral
        {"\xC0\xB1", none, none},  // an overlong '1'
        {"\xEF\xBC", none, none},  // a cut-off full-width digit
        {"", none, none},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(std::string(row.Text)));
        std::string_view ascii = row.Text;
        EXPECT_EQ(TakeAsciiDigit(ascii), row.Ascii);
        EXPECT_EQ(row.Text.size() - ascii.size(), row.Ascii ? 1u : 0u);
        std::string_view unicode = row.Text;
        char32_t c = 0;
        EXPECT_EQ(TakeUnicodeDigit(unicode), row.Unicode);
        EXPECT_EQ(row.Text.size() - unicode.size(), row.Unicode ? DecodeUtf8(row.Text, c) : 0u);
    }
}

TEST(Text, UnsignedDecimal) {
    struct Row {
        std::string_view Text;
        std::optional<uint64_t> Whole;  // ParseUnsignedDecimal
        std::optional<uint64_t> Front;  // TakeUnsignedDecimal
        std::string_view Rest;          // what Take leaves
    };
    const std::optional<uint64_t> none;
    const Row rows[] = {
        {"", none, none, ""},
        {"0", 0, 0, ""},
        {"007", 7, 7, ""},
        {"18446744073709551615", UINT64_MAX, UINT64_MAX, ""},
        {"18446744073709551616", none, none, "18446744073709551616"},
        {"00000000000000000000018446744073709551615", UINT64_MAX, UINT64_MAX, ""},
        {"-1", none, none, "-1"},
        {"+1", none, none, "+1"},
        {" 1", none, none, " 1"},
        {"1 ", none, 1, " "},
        {"12-34/5", none, 12, "-34/5"},
        {"0x10", none, 0, "x10"},
        {"１", none, none, "１"},  // a full-width digit is no ASCII digit
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(std::string(row.Text)));
        EXPECT_EQ(ParseUnsignedDecimal(row.Text), row.Whole);
        std::string_view text = row.Text;
        EXPECT_EQ(TakeUnsignedDecimal(text), row.Front);
        EXPECT_EQ(text, row.Rest);
    }
}

TEST(Text, ControlsAreShownByStyle) {
    struct Row {
        std::string_view Text;
        std::string_view Hex;
        std::string_view Replaced;
    };
    const Row rows[] = {
        {"", "", ""},
        {"地图.dat", "地图.dat", "地图.dat"},
        {"a\tb", "a\\x09b", "a\tb"},
        {"x\r\n下载", "x\\x0D\\x0A下载", "x\uFFFD\uFFFD下载"},
        {"\x1B[2J\x7F", "\\x1B[2J\\x7F", "\uFFFD[2J\uFFFD"},
        {"\xC2\x85|\xC2\x9F", "\xC2\x85|\xC2\x9F", "\uFFFD|\uFFFD"},  // C1 controls
        {"\xC2\xA0\xC2", "\xC2\xA0\xC2", "\xC2\xA0\xC2"},             // no-break space; cut off
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(std::string(row.Text)));
        EXPECT_EQ(Printable(row.Text, ControlStyle::HexEscape), row.Hex);
        EXPECT_EQ(Printable(row.Text, ControlStyle::Replacement), row.Replaced);
    }
}

}  // namespace
}  // namespace toval
