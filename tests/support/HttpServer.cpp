#include "tests/support/HttpServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <stdexcept>

namespace toval::test {

namespace {

bool SameText(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 304:
            return "Not Modified";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

// Parses a request head (request line and headers, without the blank line).
Request ParseRequest(std::string_view head) {
    Request r;
    size_t end = head.find('\n');
    std::string_view line = Trim(head.substr(0, end));
    const size_t a = line.find(' ');
    const size_t b = line.rfind(' ');
    if (a != std::string_view::npos && b > a) {
        r.Method = line.substr(0, a);
        r.Target = line.substr(a + 1, b - a - 1);
        r.Version = line.substr(b + 1);
    }
    while (end != std::string_view::npos) {
        head.remove_prefix(end + 1);
        end = head.find('\n');
        line = Trim(head.substr(0, end));
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            r.Headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }
    return r;
}

constexpr size_t kMaxRequestHead = 64 * 1024;

}  // namespace

std::string Request::Header(std::string_view name) const {
    for (const auto& [n, v] : Headers)
        if (SameText(n, name)) return v;
    return {};
}

size_t Request::HeaderCount(std::string_view name) const {
    return std::ranges::count_if(Headers, [&](const auto& h) { return SameText(h.first, name); });
}

Response Response::Redirect(std::string location, int status) {
    Response r;
    r.Status = status;
    r.Headers.emplace_back("Location", std::move(location));
    return r;
}

char GeneratedByte(uint64_t i) {
    return static_cast<char>((i * 13 + (i >> 10) * 7 + (i >> 20)) & 0xFF);
}

std::string GeneratedBody(uint64_t length) {
    std::string s(length, '\0');
    for (uint64_t i = 0; i < length; ++i) s[i] = GeneratedByte(i);
    return s;
}

struct HttpServer::Connection {
    int Fd = -1;
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
        if (Fd >= 0) ::close(Fd);
    }
};

HttpServer::HttpServer() {
    ListenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (ListenFd < 0 || ::bind(ListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(ListenFd, 64) != 0 ||
        ::getsockname(ListenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("HttpServer: cannot listen on 127.0.0.1");
    ListenPort = ntohs(addr.sin_port);
    WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (WakeFd < 0) throw std::runtime_error("HttpServer: eventfd failed");
    Thread = std::thread(&HttpServer::Serve, this);
}

HttpServer::~HttpServer() {
    {
        std::lock_guard lock(Mutex);
        Stopping = true;
    }
    Wake();
    Thread.join();
    ::close(ListenFd);
    ::close(WakeFd);
    for (const Request& r : Unexpected)
        ADD_FAILURE() << "HttpServer: unexpected request " << r.Method << " " << r.Target;
}

void HttpServer::Route(const std::string& target, Response response) {
    std::lock_guard lock(Mutex);
    Routes[target] = std::move(response);
}

std::string HttpServer::Url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(ListenPort) + target;
}

std::vector<Request> HttpServer::Requests() const {
    std::lock_guard lock(Mutex);
    return Received;
}

std::vector<Request> HttpServer::UnexpectedRequests() const {
    std::lock_guard lock(Mutex);
    return Unexpected;
}

bool HttpServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(Mutex);
    return Arrived.wait_for(lock, timeout, [&] { return Received.size() >= count; });
}

void HttpServer::ReleaseStalls() {
    {
        std::lock_guard lock(Mutex);
        Released = true;
    }
    Wake();
}

void HttpServer::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(WakeFd, &one, sizeof one);
}

// Records the request held in c.In and prepares its response.
void HttpServer::Answer(Connection& c) {
    const size_t end = c.In.find("\r\n\r\n");
    Request request = ParseRequest(std::string_view(c.In).substr(0, end));
    std::lock_guard lock(Mutex);
    auto route = Routes.find(request.Target);
    if (route == Routes.end()) {
        const std::string path = request.Target.substr(0, request.Target.find('?'));
        route = Routes.find(path);
    }
    if (route != Routes.end()) {
        const Response& r = route->second;
        c.Reply = r.Ranged && !request.Header("Range").empty() ? *r.Ranged : r;
    } else {
        c.Reply = Response{404, "not found"};
        Unexpected.push_back(request);
    }
    Received.push_back(std::move(request));
    Arrived.notify_all();

    const Response& r = c.Reply;
    const uint64_t bodyLength = r.GeneratedLength ? r.GeneratedLength : r.Body.size();
    c.BodyDue = std::min(bodyLength, r.CloseAfter.value_or(bodyLength));
    c.Head = "HTTP/1.0 " + std::to_string(r.Status) + " " + Reason(r.Status) + "\r\n";
    if (!r.OmitContentLength)
        c.Head +=
            "Content-Length: " + std::to_string(r.ContentLength.value_or(bodyLength)) + "\r\n";
    for (const auto& [name, value] : r.Headers) c.Head += name + ": " + value + "\r\n";
    c.Head += "Connection: close\r\n\r\n";
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
        const ssize_t n =
            ::send(c.Fd, c.Head.data() + c.HeadSent, c.Head.size() - c.HeadSent, MSG_NOSIGNAL);
        if (n < 0) return errno == EAGAIN || errno == EINTR;
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
        const ssize_t n = ::send(c.Fd, data, want, MSG_NOSIGNAL);
        if (n < 0) return errno == EAGAIN || errno == EINTR;
        c.BodySent += static_cast<uint64_t>(n);
        if (c.Reply.TricklePiece && c.BodySent % c.Reply.TricklePiece == 0)
            c.NextPiece = std::chrono::steady_clock::now() + c.Reply.TrickleGap;
    }
    if (c.BodySent >= c.BodyDue) {
        // Half-close: the client sees the end of the response, and its close ends the connection.
        ::shutdown(c.Fd, SHUT_WR);
        c.Finished = true;
    }
    return true;
}

void HttpServer::Serve() {
    std::vector<std::unique_ptr<Connection>> connections;
    std::vector<pollfd> fds;
    while (true) {
        {
            std::lock_guard lock(Mutex);
            if (Stopping) return;
            ReleasedSeen = Released;
        }
        fds.assign({{ListenFd, POLLIN, 0}, {WakeFd, POLLIN, 0}});
        auto now = std::chrono::steady_clock::now();
        int timeoutMs = -1;  // until something happens, unless a trickled body is due
        for (const auto& c : connections) {
            short events = POLLIN;  // a request, or the client closing
            if (CanSend(*c, now)) events |= POLLOUT;
            fds.push_back({c->Fd, events, 0});
            if (c->Responding && !c->Finished && c->NextPiece > now) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(c->NextPiece - now);
                const int ms = static_cast<int>(wait.count());
                timeoutMs = timeoutMs < 0 ? ms : std::min(timeoutMs, ms);
            }
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) return;
        now = std::chrono::steady_clock::now();
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(WakeFd, &count, sizeof count);
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
                const ssize_t n = ::recv(c.Fd, buffer, sizeof buffer, 0);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
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
                const int fd = ::accept4(ListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) break;
                auto c = std::make_unique<Connection>();
                c->Fd = fd;
                connections.push_back(std::move(c));
            }
        }
    }
}

}  // namespace toval::test
