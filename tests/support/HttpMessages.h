#pragma once
// The text of the messages the test HTTP server exchanges: a request's head as it arrives, and
// the head of a scripted response as it goes out.

#include <cstdint>
#include <string>
#include <string_view>

#include "tests/support/HttpServer.h"

namespace toval::test {

// Parses a request head (request line and headers, without the blank line).
Request ParseRequest(std::string_view head);

// The body bytes `r` has, whether given or generated.
uint64_t BodyLength(const Response& r);

// The status line and headers of `r`, with the blank line that ends them.
std::string ResponseHead(const Response& r);

}  // namespace toval::test
