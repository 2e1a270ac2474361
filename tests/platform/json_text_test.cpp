// JSON strings for the lines other programs read: a name in any encoding or with any control
// character still makes a line every JSON reader takes.

#include "platform/json_text.h"

#include <gtest/gtest.h>

namespace toval {
namespace {

TEST(JsonString, EscapesWhatJsonForbidsAndReplacesBrokenUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "\"\""},
        {"a \"b\" \\c", "\"a \\\"b\\\" \\\\c\""},
        {"line\nfeed\ttab\x01\x7F", "\"line\\nfeed\\ttab\\u0001\\u007f\""},
        {"名字.txt", "\"名字.txt\""},
        // GBK bytes, a lone continuation byte and a cut sequence.
        {"\xC3\xFB.txt \x80 \xE5\x90",
         "\"\xEF\xBF\xBD\xEF\xBF\xBD.txt \xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const auto& [text, json] : cases) EXPECT_EQ(JsonString(text), json) << text;
}

}  // namespace
}  // namespace toval
