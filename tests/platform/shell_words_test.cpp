#include "platform/shell_words.h"

#include <gtest/gtest.h>

namespace toval {
namespace {

TEST(SplitShellWords, SplitsAsAShellWouldWithoutExpanding) {
    using Words = std::vector<std::string>;
    struct Row {
        const char* Text;
        std::optional<Words> Expected;
    };
    const Row rows[] = {
        {"", Words{}},
        {"   \t ", Words{}},
        {"-a  -b\t-c", Words{"-a", "-b", "-c"}},
        {"'a b' c", Words{"a b", "c"}},
        {"\"a b\" c", Words{"a b", "c"}},
        {"x'y z'w", Words{"xy zw"}},
        {"'' \"\"", Words{"", ""}},
        {"a\\ b", Words{"a b"}},
        {"\"q\\\"t\\\\\"", Words{"q\"t\\"}},
        {"\"\\n stays\"", Words{"\\n stays"}},
        {"'\\' x", Words{"\\", "x"}},
        {"$HOME `id` *", Words{"$HOME", "`id`", "*"}},
        {"/data/游戏 目录", Words{"/data/游戏", "目录"}},
        {"a\\\nb", Words{"ab"}},
        {"'open", std::nullopt},
        {"\"open", std::nullopt},
        {"trailing\\", std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(SplitShellWords(row.Text), row.Expected) << row.Text;
}

TEST(JoinWindowsCommandLine, QuotesOnlyWhatWouldOtherwiseSplitOrChange) {
    using Words = std::vector<std::string>;
    const std::pair<Words, std::string> rows[] = {
        {{"/s", "C:\\Program Files\\游戏\\a.dll"}, "/s \"C:\\Program Files\\游戏\\a.dll\""},
        {{"C:\\dir\\"}, "C:\\dir\\"},
        {{"a dir\\"}, "\"a dir\\\\\""},
        {{"say \"hi\""}, "\"say \\\"hi\\\"\""},
        {{"a\\\"b"}, "\"a\\\\\\\"b\""},
        {{"", "x"}, "\"\" x"},
        {{}, ""},
    };
    for (const auto& [words, line] : rows) EXPECT_EQ(JoinWindowsCommandLine(words), line) << line;
}

}  // namespace
}  // namespace toval
