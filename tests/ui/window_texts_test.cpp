// The window's texts in UTF-8, the same for both windows (this file runs on Linux and Windows).

#include <gtest/gtest.h>

#include <string>

#include "ui/window_texts.h"

namespace toval {
namespace {

// True when `text` is a sequence of whole UTF-8 characters: a cut never splits one.
bool WholeCharacters(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if ((lead & 0xC0) == 0x80 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(WindowTexts, FiguresReadAsDesigned) {
    EXPECT_EQ(SpeedText(0), "0KB/秒");
    EXPECT_EQ(SpeedText(1464), "1464KB/秒");
    EXPECT_EQ(CountText(0, 0, 0), "0% (0/0)");
    EXPECT_EQ(CountText(45, 3, 10), "45% (3/10)");
    EXPECT_EQ(CountText(130, 1, 0xFFFFFFFFu), "130% (1/-1)");  // unclamped, signed
}

TEST(WindowTexts, TrayTipNamesTheFileAndTheTotalWithinTheLimit) {
    struct Case {
        const char* Name;
        int32_t Kind;
        std::string FileName;
        int32_t Percent;
        std::string Expected;  // the whole tip, or its end when the name is cut
        bool Cut;
    };
    std::string astral;
    for (int i = 0; i < 60; ++i) astral += "\xF0\x9F\x8E\xAE";  // U+1F3AE, two UTF-16 units
    const Case cases[] = {
        {"the catalogue keeps the plain tip", 1, "ignored", 40, "正在自动更新", false},
        {"Windows folders go", 2, "data\\maps\\town.pak", 45, "正在自动更新: town.pak 45%", false},
        {"Linux folders go", 2, "/srv/game/lobby.exe", 3, "正在自动更新: lobby.exe 3%", false},
        {"a long name loses its beginning", 2, std::string(200, 'a') + "tail.dat", 99,
         "tail.dat 99%", true},
        {"a cut never splits a character", 2, astral, 7, "\xF0\x9F\x8E\xAE 7%", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string tip = TransferTip(c.Kind, c.FileName, c.Percent);
        EXPECT_LE(Utf16Length(tip), kTrayTipLimit);
        EXPECT_TRUE(WholeCharacters(tip));
        if (!c.Cut) {
            EXPECT_EQ(tip, c.Expected);
            continue;
        }
        EXPECT_TRUE(EndsWith(tip, c.Expected)) << tip;
        EXPECT_EQ(tip.rfind("正在自动更新: …", 0), 0u) << tip;
        // As much of the name as fits: at most one unit short (a character of two would not).
        EXPECT_GE(Utf16Length(tip), kTrayTipLimit - 1);
    }
}

}  // namespace
}  // namespace toval
