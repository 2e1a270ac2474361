// Header lines as servers send them, HTTP/2's included (libcurl gives them as "HTTP/2 200"), and
// the malformed ones that must read as nothing rather than as a number.

#include "net/answer_headers.h"

#include <gtest/gtest.h>

namespace toval {
namespace {

TEST(AnswerHeaders, StatusLines) {
    const struct {
        const char* Line;
        long Status;
    } cases[] = {
        {"HTTP/1.0 200 OK\r\n", 200}, {"HTTP/1.1 206 Partial Content\r\n", 206},
        {"HTTP/2 304 \r\n", 304},     {"HTTP/1.1 20\r\n", 0},
        {"HTTP/1.1 2x0 OK\r\n", 0},   {"Content-Length: 200\r\n", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(StatusOfLine(c.Line), c.Status) << c.Line;
}

TEST(AnswerHeaders, LengthsReadOnlyWhenWhollyANumber) {
    EXPECT_EQ(ContentLengthOfLine("content-length:  12 \r\n"), 12u);
    EXPECT_EQ(ContentLengthOfLine("Content-Length: 18446744073709551615\r\n"), UINT64_MAX);
    for (const char* bad : {"Content-Length: 12abc\r\n", "Content-Length: -1\r\n",
                            "Content-Length: 18446744073709551616\r\n", "Content-Length:\r\n",
                            "Content-Lengthy: 12\r\n"})
        EXPECT_EQ(ContentLengthOfLine(bad), std::nullopt) << bad;
}

TEST(AnswerHeaders, RangesReadOnlyInTheirWholeForm) {
    const std::optional<ContentRange> r = ContentRangeOfLine("Content-Range: bytes 5-9/10\r\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->First, 5u);
    EXPECT_EQ(r->Last, 9u);
    EXPECT_EQ(r->Total, 10u);
    for (const char* bad : {"Content-Range: bytes */10\r\n", "Content-Range: bytes 0-9/*\r\n",
                            "Content-Range: bytes 5-9/10 x\r\n", "Content-Range: items 0-9/10\r\n"})
        EXPECT_EQ(ContentRangeOfLine(bad), std::nullopt) << bad;
}

TEST(AnswerHeaders, OnlyPrintableValidatorsGoBackIntoARequest) {
    EXPECT_TRUE(FitsInAHeader("\"abc-123\""));
    EXPECT_FALSE(FitsInAHeader(""));
    EXPECT_FALSE(FitsInAHeader("\"a\"\r\nX-Injected: 1"));
    EXPECT_FALSE(FitsInAHeader(std::string_view("a\0b", 3)));
}

}  // namespace
}  // namespace toval
