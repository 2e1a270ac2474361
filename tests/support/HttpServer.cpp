// The test HTTP server's socket loop: one thread that accepts connections, reads each request
// head, and sends the scripted answer as fast, as slowly or as partly as the script says.

#include "tests/support/HttpServer.h"

// Winsock's header goes before anything that may bring <windows.h>.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "tests/support/HttpMessages.h"

namespace toval::test {

namespace {

// The few calls in which Winsock and POSIX sockets differ.
#ifdef _WIN32
using Socket = SOCKET;
using PollEntry = WSAPOLLFD;
constexpr int kNoSignal = 0;
constexpr int kShutWrite = SD_SEND;

void StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("HttpServer: Winsock cannot start");
}
// Non-blocking sockets; -1 when none could be had.
intptr_t NonBlocking(Socket s) {
    u_long on = 1;
    if (s != INVALID_SOCKET && ::ioctlsocket(s, FIONBIO, &on) == 0) return static_cast<intptr_t>(s);
    if (s != INVALID_SOCKET) ::closesocket(s);
    return -1;
}
intptr_t OpenSocket(int type) { return NonBlocking(::socket(AF_INET, type, 0)); }
intptr_t Accept(Socket listener) { return NonBlocking(::accept(listener, nullptr, nullptr)); }
bool Interrupted() {
    const int error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}
int Poll(std::vector<PollEntry>& entries, int timeoutMs) {
    return ::WSAPoll(entries.data(), static_cast<ULONG>(entries.size()), timeoutMs);
}
void CloseSocket(intptr_t s) { ::closesocket(static_cast<SOCKET>(s)); }
#else
using Socket = int;
using PollEntry = pollfd;
constexpr int kNoSignal = MSG_NOSIGNAL;
constexpr int kShutWrite = SHUT_WR;

void StartSockets() {}
intptr_t OpenSocket(int type) { return ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }
intptr_t Accept(Socket listener) {
    return ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}
bool Interrupted() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
int Poll(std::vector<PollEntry>& entries, int timeoutMs) {
    return ::poll(entries.data(), entries.size(), timeoutMs);
}
void CloseSocket(intptr_t s) { ::close(static_cast<int>(s)); }
#endif

Socket Native(intptr_t s) { return static_cast<Socket>(s); }

PollEntry Watch(intptr_t s, short events) {
    PollEntry entry{};
    entry.fd = Native(s);
    entry.events = events;
    return entry;
}

// A non-blocking socket of `type` bound to a free port of 127.0.0.1; throws when there is none.
intptr_t BoundSocket(int type, sockaddr_in& addr) {
    const intptr_t handle = OpenSocket(type);
    if (handle == -1) throw std::runtime_error("HttpServer: no socket");
    const Socket s = Native(handle);
    addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        CloseSocket(handle);
        throw std::runtime_error("HttpServer: cannot bind to 127.0.0.1");
    }
    return handle;
}

constexpr size_t kMaxRequestHead = 64 * 1024;

}  // namespace

struct HttpServer::Connection {
    intptr_t Sock = -1;
    std::string In;
    bool Responding = false;
    bool Finished = false;  // everything due was sent; waiting for the client to close
    Response Reply;
    std::string Head;
    size_t HeadSent = 0;
    uint64_t BodyDue = 0;  // body bytes to send before closing
    uint64_t BodySent = 0;
    std::chrono::steady_clock::time_point NextPiece{};  // when a trickled body may go on

    ~Connection() {
        if (Sock != -1) CloseSocket(Sock);
    }
};

HttpServer::HttpServer() {
    StartSockets();
    sockaddr_in addr{};
    Listener = BoundSocket(SOCK_STREAM, addr);
    ListenPort = ntohs(addr.sin_port);
    sockaddr_in self{};
    try {
        if (::listen(Native(Listener), 64) != 0)
            throw std::runtime_error("HttpServer: cannot listen on 127.0.0.1");
        Waker = BoundSocket(SOCK_DGRAM, self);
        if (::connect(Native(Waker), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0)
            throw std::runtime_error("HttpServer: the wake-up socket cannot connect");
    } catch (...) {
        CloseSocket(Listener);
        if (Waker != -1) CloseSocket(Waker);
        throw;
    }
    Thread = std::thread(&HttpServer::Serve, this);
}

HttpServer::~HttpServer() {
    {
        std::lock_guard lock(Mutex);
        Stopping = true;
    }
    Wake();
    Thread.join();
    CloseSocket(Listener);
    CloseSocket(Waker);
    for (const Request& r : Unexpected)
        ADD_FAILURE() << "HttpServer: unexpected request " << r.Method << " " << r.Target;
}

std::string HttpServer::Url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(ListenPort) + target;
}

void HttpServer::ReleaseStalls() {
    {
        std::lock_guard lock(Mutex);
        Released = true;
    }
    Wake();
}

void HttpServer::Wake() {
    // A datagram already waiting wakes the server as well, so a full queue loses nothing.
    const char one = 1;
    ::send(Native(Waker), &one, 1, 0);
}

// Records the request held in c.In and prepares its response.
void HttpServer::Answer(Connection& c) {
    const size_t end = c.In.find("\r\n\r\n");
    c.Reply = AnswerFor(ParseRequest(std::string_view(c.In).substr(0, end)));
    const uint64_t bodyLength = BodyLength(c.Reply);
    c.BodyDue = std::min(bodyLength, c.Reply.CloseAfter.value_or(bodyLength));
    c.Head = ResponseHead(c.Reply);
    c.Responding = true;
}

bool HttpServer::CanSend(const Connection& c, std::chrono::steady_clock::time_point now) const {
    if (!c.Responding || c.Finished) return false;
    if (c.HeadSent == c.Head.size() && now < c.NextPiece) return false;
    if (ReleasedSeen) return true;
    if (c.Reply.StallBeforeHeaders) return false;
    return !(c.HeadSent == c.Head.size() && c.Reply.StallAfter &&
             c.BodySent >= *c.Reply.StallAfter);
}

// Sends what may be sent now; false when the connection is to be closed at once.
bool HttpServer::SendSome(Connection& c) {
    if (c.HeadSent < c.Head.size()) {
        const auto n = ::send(Native(c.Sock), c.Head.data() + c.HeadSent,
                              static_cast<int>(c.Head.size() - c.HeadSent), kNoSignal);
        if (n < 0) return Interrupted();
        c.HeadSent += static_cast<size_t>(n);
        if (c.HeadSent < c.Head.size()) return true;
    }
    uint64_t limit = c.BodyDue;
    if (!ReleasedSeen && c.Reply.StallAfter) limit = std::min(limit, *c.Reply.StallAfter);
    if (c.Reply.TricklePiece) {
        const uint64_t pieceEnd = (c.BodySent / c.Reply.TricklePiece + 1) * c.Reply.TricklePiece;
        limit = std::min(limit, pieceEnd);
    }
    if (c.BodySent < limit) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(limit - c.BodySent, 64 * 1024));
        const char* data;
        std::string scratch;
        if (c.Reply.GeneratedLength) {
            scratch.resize(want);
            for (size_t i = 0; i < want; ++i) scratch[i] = GeneratedByte(c.BodySent + i);
            data = scratch.data();
        } else {
            data = c.Reply.Body.data() + c.BodySent;
        }
        const auto n = ::send(Native(c.Sock), data, static_cast<int>(want), kNoSignal);
        if (n < 0) return Interrupted();
        c.BodySent += static_cast<uint64_t>(n);
        if (c.Reply.TricklePiece && c.BodySent % c.Reply.TricklePiece == 0)
            c.NextPiece = std::chrono::steady_clock::now() + c.Reply.TrickleGap;
    }
    if (c.BodySent >= c.BodyDue) {
        // Half-close: the client sees the end of the response, and its close ends the connection.
        ::shutdown(Native(c.Sock), kShutWrite);
        c.Finished = true;
    }
    return true;
}

void HttpServer::Serve() {
    std::vector<std::unique_ptr<Connection>> connections;
    std::vector<PollEntry> fds;
    while (true) {
        {
            std::lock_guard lock(Mutex);
            if (Stopping) return;
            ReleasedSeen = Released;
        }
        fds.assign({Watch(Listener, POLLIN), Watch(Waker, POLLIN)});
        auto now = std::chrono::steady_clock::now();
        int timeoutMs = -1;  // until something happens, unless a trickled body is due
        for (const auto& c : connections) {
            short events = POLLIN;  // a request, or the client closing
            if (CanSend(*c, now)) events |= POLLOUT;
            fds.push_back(Watch(c->Sock, events));
            if (c->Responding && !c->Finished && c->NextPiece > now) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(c->NextPiece - now);
                const int ms = static_cast<int>(wait.count());
                timeoutMs = timeoutMs < 0 ? ms : std::min(timeoutMs, ms);
            }
        }
        if (Poll(fds, timeoutMs) < 0 && !Interrupted()) return;
        now = std::chrono::steady_clock::now();
        if (fds[1].revents & POLLIN) {
            char drained[64];
            while (::recv(Native(Waker), drained, sizeof drained, 0) > 0) {
            }
        }
        {
            std::lock_guard lock(Mutex);
            if (Stopping) return;
            ReleasedSeen = Released;
        }
        for (size_t i = 0; i < connections.size(); ++i) {
            Connection& c = *connections[i];
            const short revents = fds[i + 2].revents;
            bool keep = true;
            if (revents & (POLLIN | POLLHUP | POLLERR)) {
                char buffer[4096];
                const auto n = ::recv(Native(c.Sock), buffer, sizeof buffer, 0);
                if (n == 0 || (n < 0 && !Interrupted())) {
                    keep = false;
                } else if (n > 0 && !c.Responding) {
                    c.In.append(buffer, static_cast<size_t>(n));
                    if (c.In.find("\r\n\r\n") != std::string::npos) {
                        Answer(c);
                    } else if (c.In.size() > kMaxRequestHead) {
                        keep = false;
                    }
                }
            }
            if (keep && CanSend(c, now)) keep = SendSome(c);
            if (!keep) connections[i].reset();
        }
        std::erase(connections, nullptr);
        if (fds[0].revents & POLLIN) {
            while (true) {
                const intptr_t accepted = Accept(Native(Listener));
                if (accepted == -1) break;
                auto c = std::make_unique<Connection>();
                c->Sock = accepted;
                connections.push_back(std::move(c));
            }
        }
    }
}

}  // namespace toval::test