#pragma once
// Many small questions to web servers at once, for the publisher's check of a release: how long
// each file is (a HEAD), or its whole body or its SHA-256 (a GET). Requests share kept-alive
// connections and run side by side; nothing is written to disk.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/crypto.h"

namespace toval {

enum class SurveyAsk {
    Length,  // a HEAD: the status and Content-Length
    Body,    // a GET: the body, up to a limit
    // The same, asking for it gzip-compressed as the updater asks for a catalogue, and decoded:
    // what a player gets where the server keeps a compressed copy.
    CompressedBody,
    Digest,  // a GET: the body's length and SHA-256, the body itself dropped
    Start,   // a GET: the body's length and its first bytes, up to the limit, the rest dropped
};

struct SurveyAnswer {
    bool Answered = false;  // a response came (any status)
    long Status = 0;
    std::optional<uint64_t> Length;      // Content-Length, or the bytes received for a GET
    std::string Body;                    // SurveyAsk::Body, CompressedBody and Start
    std::optional<Sha256Digest> Digest;  // SurveyAsk::Digest
    std::string Error;                   // when no response came: why
};

// Asks each of `urls` `ask`, `parallel` at once; the answers in the order of `urls`. `progress`
// is told how many are done, now and then.
std::vector<SurveyAnswer> Survey(const std::vector<std::string>& urls, SurveyAsk ask,
                                 unsigned parallel, uint64_t maxBody = 256ull << 20,
                                 const std::function<void(size_t)>& progress = {});

}  // namespace toval
