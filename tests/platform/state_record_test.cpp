#include "platform/state_record.h"

#include <gtest/gtest.h>

namespace toval {
namespace {

constexpr std::string_view kHeader = "toval-updater test 1";

TEST(StateRecord, AnyFieldComesBackAsWritten) {
    const std::vector<std::string_view> fields = {"", "a b\nc:d", std::string_view("\0\r\n", 3),
                                                  "sum 00"};
    const std::string text = FormatStateRecord(kHeader, fields);
    const auto read = ParseStateRecord(text, kHeader);
    ASSERT_TRUE(read);
    EXPECT_EQ(std::vector<std::string_view>(read->begin(), read->end()), fields);
    EXPECT_EQ(ParseStateRecord(FormatStateRecord(kHeader, {}), kHeader),
              std::vector<std::string>{});
}

TEST(StateRecord, ADamagedOrForeignRecordIsRefusedWhole) {
    const std::string good = FormatStateRecord(kHeader, {"first", "second"});
    std::vector<std::string> bad = {
        good + good,
        good + "\n",
        std::string("sum \n"),
        FormatStateRecord("toval-updater test 2", {"first", "second"}),
        FormatStateRecord("toval-updater test", {"first", "second"}),
    };
    // Cut anywhere, or any one byte changed.
    for (std::size_t size = 0; size < good.size(); ++size) bad.push_back(good.substr(0, size));
    for (std::size_t i = 0; i < good.size(); ++i) {
        bad.push_back(good);
        bad.back()[i] ^= 1;
    }
    for (const std::string& text : bad)
        EXPECT_FALSE(ParseStateRecord(text, kHeader)) << ::testing::PrintToString(text);
}

}  // namespace
}  // namespace toval
