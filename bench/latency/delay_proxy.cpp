// toval-delay-proxy: a TCP relay on loopback that adds a fixed latency, for benchmarks on a kernel
// without netem. Every accepted connection waits ACCEPT_MS before the relay connects onwards (the
// handshake's round trip); afterwards every chunk read from either side is written to the other
// ONE_WAY_MS after it was read. Chunks keep their order per direction and overlap in flight, so a
// large transfer keeps its throughput instead of paying ONE_WAY_MS per chunk.
//     toval-delay-proxy LISTEN_PORT TARGET_HOST TARGET_PORT [ONE_WAY_MS=25] [ACCEPT_MS=50]
// LISTEN_PORT 0 takes any free port. Once it accepts, it prints "listening 127.0.0.1:PORT".

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Once this much waits to go one way, the relay stops reading from the sending side, so a fast
// server cannot fill memory; TCP flow control then holds the sender back. It also caps one
// connection's throughput at kQueueCap per ONE_WAY_MS, which is far above what the benchmarks
// move over a single connection.
constexpr size_t kQueueCap = 4 << 20;
constexpr size_t kReadSize = 256 << 10;

// epoll tags: connections use (id << 1) | side, with ids from 1, so these two cannot collide.
constexpr uint64_t kListenerTag = 0;
constexpr uint64_t kTimerTag = 1;

int64_t NowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

[[noreturn]] void Die(const char* what) {
    std::fprintf(stderr, "toval-delay-proxy: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

bool ParseNumber(const char* text, long max, long& out) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0 || value > max) return false;
    out = value;
    return true;
}

struct Chunk {
    int64_t Due;
    std::vector<char> Data;  // empty: the sender's end of stream
    size_t Sent = 0;
};

struct Side {
    int Fd = -1;
    // Edge-triggered: set on an event, cleared only when the socket answers EAGAIN.
    bool Readable = false;
    bool Writable = false;
    bool EndRead = false;
    bool EndWritten = false;
};

struct Pair {
    Side Sides[2];            // 0: the client, 1: the target
    std::deque<Chunk> To[2];  // To[i]: what waits to be written to Sides[i]
    size_t Queued[2] = {0, 0};
    bool Connected = false;
};

struct Wakeup {
    int64_t Due;
    uint64_t Id;
};

class Proxy {
  public:
    Proxy(const sockaddr_storage& target, socklen_t targetLength, int64_t oneWayNs,
          int64_t acceptNs)
        : Target(target), TargetLength(targetLength), OneWayNs(oneWayNs), AcceptNs(acceptNs) {
        Buffer.resize(kReadSize);
    }

    void Run(uint16_t port) {
        Epoll = epoll_create1(EPOLL_CLOEXEC);
        if (Epoll < 0) Die("epoll_create1");
        Timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (Timer < 0) Die("timerfd_create");
        Add(Timer, EPOLLIN, kTimerTag);
        Listen(port);

        std::vector<epoll_event> events(512);
        for (;;) {
            RunDue(NowNs());
            ArmTimer();
            int n = epoll_wait(Epoll, events.data(), static_cast<int>(events.size()), -1);
            if (n < 0) {
                if (errno == EINTR) continue;
                Die("epoll_wait");
            }
            int64_t now = NowNs();
            for (int i = 0; i < n; ++i) Dispatch(events[i], now);
        }
    }

  private:
    void Add(int fd, uint32_t events, uint64_t tag) {
        epoll_event ev{};
        ev.events = events;
        ev.data.u64 = tag;
        if (epoll_ctl(Epoll, EPOLL_CTL_ADD, fd, &ev) < 0) Die("epoll_ctl");
    }

    void Listen(uint16_t port) {
        Listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (Listener < 0) Die("socket");
        int one = 1;
        setsockopt(Listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(Listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) Die("bind");
        if (listen(Listener, SOMAXCONN) < 0) Die("listen");
        socklen_t length = sizeof addr;
        if (getsockname(Listener, reinterpret_cast<sockaddr*>(&addr), &length) < 0) {
            Die("getsockname");
        }
        Add(Listener, EPOLLIN, kListenerTag);
        std::printf("listening 127.0.0.1:%u\n", unsigned{ntohs(addr.sin_port)});
        std::fflush(stdout);
    }

    void Dispatch(const epoll_event& ev, int64_t now) {
        if (ev.data.u64 == kListenerTag) return Accept(now);
        if (ev.data.u64 == kTimerTag) {
            uint64_t expirations;
            [[maybe_unused]] ssize_t r = read(Timer, &expirations, sizeof expirations);
            return;  // the loop runs whatever fell due
        }
        uint64_t id = ev.data.u64 >> 1;
        int index = static_cast<int>(ev.data.u64 & 1);
        auto found = Pairs.find(id);
        if (found == Pairs.end()) return;
        Pair& pair = found->second;
        Side& side = pair.Sides[index];
        if (ev.events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) side.Readable = true;
        if (ev.events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) side.Writable = true;
        if (!pair.Connected) {
            if (index == 0) {
                // A client that resets while it waits for the handshake is simply dropped.
                if (ev.events & EPOLLERR) Close(id, true);
                return;
            }
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(side.Fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error != 0) {
                std::fprintf(stderr, "toval-delay-proxy: connect: %s\n", std::strerror(error));
                return Close(id, true);
            }
            if (!side.Writable) return;
            pair.Connected = true;
        }
        Pump(id, pair, now);
    }

    void Accept(int64_t now) {
        for (;;) {
            int fd = accept4(Listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    std::fprintf(stderr, "toval-delay-proxy: accept: %s\n", std::strerror(errno));
                }
                return;
            }
            NoDelay(fd);
            uint64_t id = NextId++;
            Pair& pair = Pairs[id];
            pair.Sides[0].Fd = fd;
            // Registered at once so that its readiness is not missed; nothing is read from it
            // before the target is connected, so the request's delay starts after the handshake.
            Add(fd, EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET, id << 1);
            Connects.push_back({now + AcceptNs, id});
        }
    }

    static void NoDelay(int fd) {
        // Small delayed chunks must leave when they are due, not when Nagle lets them.
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }

    void Connect(uint64_t id) {
        auto found = Pairs.find(id);
        if (found == Pairs.end()) return;
        Pair& pair = found->second;
        int fd = socket(Target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            std::fprintf(stderr, "toval-delay-proxy: socket: %s\n", std::strerror(errno));
            return Close(id, true);
        }
        NoDelay(fd);
        pair.Sides[1].Fd = fd;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&Target), TargetLength) < 0 &&
            errno != EINPROGRESS) {
            std::fprintf(stderr, "toval-delay-proxy: connect: %s\n", std::strerror(errno));
            return Close(id, true);
        }
        // The first EPOLLOUT edge reports the connection's outcome (Dispatch).
        Add(fd, EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET, (id << 1) | 1);
    }

    // Moves whatever can move on both directions of one connection: due chunks out, then new
    // chunks in while the queue has room, then out again in case ONE_WAY_MS is 0.
    void Pump(uint64_t id, Pair& pair, int64_t now) {
        if (!pair.Connected) return;
        for (int to = 0; to < 2; ++to) {
            if (!Flush(id, pair, to, now) || !Fill(id, pair, to, now) ||
                !Flush(id, pair, to, now)) {
                return;
            }
        }
        if (pair.Sides[0].EndWritten && pair.Sides[1].EndWritten) Close(id, false);
    }

    // Writes the due chunks waiting for side `to`; false when the connection has been closed.
    bool Flush(uint64_t id, Pair& pair, int to, int64_t now) {
        Side& out = pair.Sides[to];
        std::deque<Chunk>& queue = pair.To[to];
        while (!queue.empty() && queue.front().Due <= now && out.Writable) {
            Chunk& chunk = queue.front();
            if (chunk.Data.empty()) {
                // The end of stream travels with the same delay, behind the data before it.
                shutdown(out.Fd, SHUT_WR);
                out.EndWritten = true;
                queue.pop_front();
                continue;
            }
            ssize_t n = send(out.Fd, chunk.Data.data() + chunk.Sent, chunk.Data.size() - chunk.Sent,
                             MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    out.Writable = false;
                    break;
                }
                Close(id, true);
                return false;
            }
            chunk.Sent += static_cast<size_t>(n);
            pair.Queued[to] -= static_cast<size_t>(n);
            if (chunk.Sent == chunk.Data.size()) queue.pop_front();
        }
        return true;
    }

    // Reads from the side opposite `to` into its queue; false when the connection has been closed.
    bool Fill(uint64_t id, Pair& pair, int to, int64_t now) {
        Side& in = pair.Sides[1 - to];
        while (in.Readable && !in.EndRead && pair.Queued[to] < kQueueCap) {
            ssize_t n = recv(in.Fd, Buffer.data(), Buffer.size(), 0);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    in.Readable = false;
                    break;
                }
                Close(id, true);
                return false;
            }
            if (n == 0) in.EndRead = true;
            pair.To[to].push_back({now + OneWayNs, {Buffer.data(), Buffer.data() + n}});
            pair.Queued[to] += static_cast<size_t>(n);
            Wakeups.push_back({now + OneWayNs, id});
        }
        return true;
    }

    // A reset on one side resets the other (a zero linger makes close send RST); an orderly end
    // closes both normally.
    void Close(uint64_t id, bool abort) {
        auto found = Pairs.find(id);
        if (found == Pairs.end()) return;
        for (Side& side : found->second.Sides) {
            if (side.Fd < 0) continue;
            if (abort) {
                linger hard{1, 0};
                setsockopt(side.Fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            }
            close(side.Fd);
        }
        Pairs.erase(found);
    }

    // The delays are constant, so each queue is in due order and its front is the next to run.
    void RunDue(int64_t now) {
        while (!Connects.empty() && Connects.front().Due <= now) {
            uint64_t id = Connects.front().Id;
            Connects.pop_front();
            Connect(id);
        }
        while (!Wakeups.empty() && Wakeups.front().Due <= now) {
            uint64_t id = Wakeups.front().Id;
            Wakeups.pop_front();
            auto found = Pairs.find(id);
            if (found != Pairs.end()) Pump(id, found->second, now);
        }
    }

    void ArmTimer() {
        int64_t next = 0;
        if (!Connects.empty()) next = Connects.front().Due;
        if (!Wakeups.empty() && (next == 0 || Wakeups.front().Due < next)) {
            next = Wakeups.front().Due;
        }
        if (next == 0 || next == Armed) return;
        itimerspec due{};
        due.it_value.tv_sec = next / 1'000'000'000;
        due.it_value.tv_nsec = next % 1'000'000'000;
        if (timerfd_settime(Timer, TFD_TIMER_ABSTIME, &due, nullptr) < 0) Die("timerfd_settime");
        Armed = next;
    }

    sockaddr_storage Target;
    socklen_t TargetLength;
    int64_t OneWayNs;
    int64_t AcceptNs;
    int Epoll = -1;
    int Timer = -1;
    int Listener = -1;
    int64_t Armed = 0;
    uint64_t NextId = 1;
    std::unordered_map<uint64_t, Pair> Pairs;
    std::deque<Wakeup> Connects;
    std::deque<Wakeup> Wakeups;
    std::vector<char> Buffer;
};

}  // namespace

int main(int argc, char** argv) {
    long listenPort, targetPort, oneWayMs = 25, acceptMs = 50;
    if (argc < 4 || argc > 6 || !ParseNumber(argv[1], 65535, listenPort) ||
        !ParseNumber(argv[3], 65535, targetPort) ||
        (argc > 4 && !ParseNumber(argv[4], 60'000, oneWayMs)) ||
        (argc > 5 && !ParseNumber(argv[5], 60'000, acceptMs))) {
        std::fprintf(stderr,
                     "usage: toval-delay-proxy LISTEN_PORT TARGET_HOST TARGET_PORT [ONE_WAY_MS=25] "
                     "[ACCEPT_MS=50]\n");
        return 2;
    }

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string service = std::to_string(targetPort);
    if (int rc = getaddrinfo(argv[2], service.c_str(), &hints, &found); rc != 0) {
        std::fprintf(stderr, "toval-delay-proxy: %s: %s\n", argv[2], gai_strerror(rc));
        return 1;
    }
    sockaddr_storage target{};
    std::memcpy(&target, found->ai_addr, found->ai_addrlen);
    socklen_t targetLength = found->ai_addrlen;
    freeaddrinfo(found);

    // Each connection holds two descriptors; the soft limit of 1024 would cap it near 500.
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    std::signal(SIGPIPE, SIG_IGN);

    Proxy proxy(target, targetLength, oneWayMs * 1'000'000, acceptMs * 1'000'000);
    proxy.Run(static_cast<uint16_t>(listenPort));
}
