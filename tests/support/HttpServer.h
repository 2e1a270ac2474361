#pragma once
// A real HTTP server on 127.0.0.1 for tests: it listens on a free port, serves from one thread of
// its own, answers each path as the test scripted it, and records every request it receives.
//
//     HttpServer server;
//     server.Route("/a.dll", Response{200, "body"});
//     server.Route("/old", Response::Redirect("/a.dll"));
//     server.Route("/slow", Response{.Body = std::string(4096, 'x'), .StallAfter = 1024});
//     ... fetch server.Url("/a.dll") ...
//     EXPECT_EQ(server.Requests()[0].Header("User-Agent"), "...");
//
// A request for a path without a route is answered 404, recorded in UnexpectedRequests() and
// fails the test when the server is destroyed; route a path to Response{404} to expect a 404
// (or serve a directory, where a missing file is an ordinary 404).
// Every response closes its connection (HTTP/1.0 style), so each request is a connection.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace toval::test {

struct Request {
    std::string Method;                                        // "GET"
    std::string Target;                                        // "/a.dll?x=1", as sent
    std::string Version;                                       // "HTTP/1.0"
    std::vector<std::pair<std::string, std::string>> Headers;  // in order, duplicates kept

    // First value of header `name` (case-insensitive); empty when absent.
    std::string Header(std::string_view name) const;
    // How many times header `name` was sent.
    size_t HeaderCount(std::string_view name) const;

    int Status = 0;  // of the answer, once it is known
};

struct Response {
    int Status = 200;
    std::string Body{};
    std::vector<std::pair<std::string, std::string>> Headers{};  // extra headers
    // When non-zero the body is this many bytes of GeneratedByte, made while sending (Body unused).
    uint64_t GeneratedLength = 0;
    // Announced Content-Length; by default the body's length. Announcing more than the body and
    // then closing is how a short body is served.
    std::optional<uint64_t> ContentLength{};
    bool OmitContentLength = false;  // the body then ends where the connection closes
    // Headers and this many body bytes are sent, then nothing until ReleaseStalls or the end.
    std::optional<uint64_t> StallAfter{};
    bool StallBeforeHeaders = false;  // the request is read, then nothing until released
    // This many body bytes are sent, then the connection is closed.
    std::optional<uint64_t> CloseAfter{};
    // A slow server: when TricklePiece is set, the body goes out in pieces of that many bytes
    // with TrickleGap between them.
    uint64_t TricklePiece = 0;
    std::chrono::milliseconds TrickleGap{0};

    // Served instead of this one to a request that asks for a range.
    std::shared_ptr<Response> Ranged{};

    static Response Redirect(std::string location, int status = 302);
};

// Byte `i` of a generated body; not periodic in 1024, so a chunk out of place shows.
char GeneratedByte(uint64_t i);
std::string GeneratedBody(uint64_t length);

class HttpServer {
  public:
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Serves `response` for every request whose target is `target` (or whose path is, when the
    // target carries a query that has no route of its own). May be called while serving.
    void Route(const std::string& target, Response response);
    // Answers requests without a route from the files below `root`, as a static web server does:
    // the file's bytes, or 404 (expected, not a failure) when there is none.
    void ServeDirectory(const std::string& root);
    std::string Url(const std::string& target) const;
    uint16_t Port() const { return ListenPort; }

    std::vector<Request> Requests() const;
    std::vector<Request> UnexpectedRequests() const;
    // Waits until `count` requests have arrived; false on time-out.
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;
    // Stalled responses, current and future, carry on to their end.
    void ReleaseStalls();

  private:
    struct Connection;
    void Serve();
    void Wake();
    void Answer(Connection& c);
    // Records `request` and gives the answer the script has for it.
    Response AnswerFor(Request request);
    bool SendSome(Connection& c);
    bool CanSend(const Connection& c, std::chrono::steady_clock::time_point now) const;

    // Sockets, as the system's type holds them (a descriptor, or a Winsock SOCKET).
    intptr_t Listener = -1;
    intptr_t Waker = -1;  // a datagram socket connected to itself: Wake sends it one

    uint16_t ListenPort = 0;
    bool Stopping = false;      // guarded by Mutex
    bool Released = false;      // guarded by Mutex
    bool ReleasedSeen = false;  // Serve's own copy of Released
    mutable std::mutex Mutex;
    mutable std::condition_variable Arrived;
    std::map<std::string, Response> Routes;
    std::string Root;  // of ServeDirectory; empty for none
    std::vector<Request> Received;
    std::vector<Request> Unexpected;
    std::thread Thread;
};

}  // namespace toval::test
