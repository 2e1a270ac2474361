#pragma once
// Just enough HTTP/1.x to follow one relayed connection: which request each response answers
// and where its body lies, so that the chaos proxy can damage bodies and name what it hit.
// Requests are GETs without bodies and are not pipelined by the updater; responses carry a
// Content-Length (nginx serving static files), or run to the end of the connection.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace chaos {

// The paths of requests sent upstream and not yet answered, shared by the connection's two
// directions.
class PathQueue {
  public:
    void Push(std::string path);
    std::string Pop();  // "?" when a response comes that no request explains

  private:
    std::mutex Lock;
    std::deque<std::string> Paths;
};

// Reads the client's stream and queues the path of each complete request head.
class RequestReader {
  public:
    void Feed(const char* data, size_t size, PathQueue& paths);

  private:
    std::string Pending;
};

// A piece of the server's stream: [Begin, End) of the chunk just fed, inside one response's
// head or body.
struct Span {
    size_t Begin = 0;
    size_t End = 0;
    bool Body = false;
    uint64_t BodyOffset = 0;  // of Begin, when Body
    std::string Path;         // the request it answers
};

class ResponseReader {
  public:
    std::vector<Span> Feed(const char* data, size_t size, PathQueue& paths);

  private:
    void HeadDone(PathQueue& paths);

    enum class State { Head, Body, ToEnd };
    State Current = State::Head;
    std::string Head;
    std::string Path;
    uint64_t Remaining = 0;
    uint64_t BodyOffset = 0;
};

}  // namespace chaos
