#include "catalog/version_compare.h"

#include <gtest/gtest.h>

namespace toval {
namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(CompareVersion, OrdersVersionTexts) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        // Four numbers: by value, part by part.
        {"1.0.0.9", "1.0.0.10", -1},
        {"2.0.0.0", "10.0.0.0", -1},
        {"1.2.3.4", "1.2.3.4", 0},
        {"01.0.0.0", "1.0.0.0", 0},
        {"1.0.0.0", "0.9.9.9", 1},
        {"0.0.0.0", "0.0.0.00", 0},
        {"65535.0.0.0", "65536.0.0.0", -1},
        {"99999999999999999999999.0.0.0", "9.0.0.0", 1},
        {"1.99.0.0", "2.0.0.0", -1},
        // Anything else: text order, A-Z folded only, a proper prefix first.
        {"", "1.0.0.0", -1},
        {"", "", 0},
        {"1.0", "1.0.0.0", -1},
        {"1.0.0.9a", "1.0.0.10a", 1},
        {"1.0.0.0.0", "1.0.0.0", 1},
        {"1..0.0", "1.0.0.0", -1},
        {"1.0.0.", "1.0.0.0", -1},
        {"-1.0.0.0", "1.0.0.0", -1},
        {"1.0.0.0 ", "1.0.0.0", 1},
        {"V1.0", "v1.0", 0},
        {"_", "A", -1},                // 'A' folds to 'a', which sorts after '_'
        {"\xC3\x84", "\xC3\xA4", -1},  // only A-Z fold: Ä stays before ä
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Sign(CompareVersionTexts(c.a, c.b)), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(Sign(CompareVersionTexts(c.b, c.a)), -c.order) << c.b << " vs " << c.a;
    }
}

}  // namespace
}  // namespace toval
