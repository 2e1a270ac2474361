// toval-chaos-proxy: a TCP relay on loopback that breaks what the server sends, for the chaos
// soak (bench/chaos/run). Every connection to 127.0.0.1:LISTEN_PORT is relayed to
// 127.0.0.1:UPSTREAM_PORT; the server's stream is read in chunks of at most 16 KiB and, at random
// under the seed, one of these faults is injected:
//     reset      the connection is reset (RST) after part of the chunk
//     cut        the connection is closed cleanly (FIN) after part of the chunk
//     corrupt    one byte of a response body is changed
//     duplicate  a run of body bytes is sent twice
//     stall      nothing is sent for a while, then the chunk goes on
// --chunk-p is the chance that a chunk carries a fault; --conn-p the chance that a connection
// gets one fault at a random offset of its first 256 KiB (heads and small files included).
// Corrupt and duplicate touch bodies only, and never the bodies of requests whose path ends in
// an --intact suffix. Each fault is one line in the log (standard error without --log):
//     KIND conn=ID offset=STREAM_OFFSET path=REQUEST_PATH body=BODY_OFFSET [len=N | ms=N]
//     toval-chaos-proxy LISTEN_PORT UPSTREAM_PORT [--seed N] [--chunk-p P] [--conn-p P]
//         [--kinds reset,cut,corrupt,duplicate,stall] [--stall-ms MIN-MAX] [--intact SUFFIX]
//         [--log FILE]
// LISTEN_PORT 0 takes any free port; once listening it prints "listening 127.0.0.1:PORT".

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "http_stream.h"

namespace {

using chaos::Span;

// Small enough that a fault lands anywhere in a file of a few hundred KiB, large enough that a
// loopback relay keeps up with nginx.
constexpr size_t kChunk = 16 << 10;
constexpr uint64_t kConnectionWindow = 256 << 10;

enum Kind { kReset, kCut, kCorrupt, kDuplicate, kStall, kKinds };
const char* const kKindNames[kKinds] = {"reset", "cut", "corrupt", "duplicate", "stall"};

struct Options {
    uint16_t ListenPort = 0;
    uint16_t UpstreamPort = 0;
    uint64_t Seed = 1;
    double ChunkP = 0;
    double ConnP = 0;
    std::vector<Kind> Kinds{kReset, kCut, kCorrupt, kDuplicate, kStall};
    long StallMin = 1500, StallMax = 2500;
    std::vector<std::string> Intact;
    std::FILE* Log = stderr;
};

Options g;
std::mutex gLogLock;

void Log(Kind kind, uint64_t conn, uint64_t offset, const Span& span, size_t at,
         const std::string& extra) {
    const uint64_t body = span.Body ? span.BodyOffset + (at - span.Begin) : 0;
    std::lock_guard<std::mutex> hold(gLogLock);
    std::fprintf(g.Log, "%s conn=%llu offset=%llu path=%s body=%s%llu%s\n", kKindNames[kind],
                 static_cast<unsigned long long>(conn), static_cast<unsigned long long>(offset),
                 span.Path.empty() ? "-" : span.Path.c_str(), span.Body ? "" : "head+",
                 static_cast<unsigned long long>(body), extra.c_str());
    std::fflush(g.Log);
}

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

struct Connection {
    uint64_t Id = 0;
    int Client = -1;
    int Upstream = -1;
    std::atomic<bool> Over{false};
    chaos::PathQueue Paths;
    std::mt19937_64 Random;
};

bool Spared(const std::string& path) {
    for (const std::string& suffix : g.Intact)
        if (path.size() >= suffix.size() &&
            path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    return false;
}

// Client to server: relayed untouched, with the request paths noted for the other direction.
// It polls so that it notices within a moment when the other direction has ended the
// connection, and the descriptors are closed only once neither thread uses them.
void ForwardRequests(Connection* c) {
    chaos::RequestReader requests;
    std::vector<char> buffer(kChunk);
    while (!c->Over) {
        pollfd p{c->Client, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        const ssize_t n = recv(c->Client, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            shutdown(c->Upstream, SHUT_WR);
            return;
        }
        requests.Feed(buffer.data(), static_cast<size_t>(n), c->Paths);
        if (!SendAll(c->Upstream, buffer.data(), static_cast<size_t>(n))) return;
    }
}

struct Plan {
    Kind What;
    size_t At;  // in the chunk
    bool Doom;  // the connection's own fault
};

// Content faults go to a body byte: the one drawn when it is a body byte, else one drawn among
// the chunk's body bytes. None when the chunk holds no body that may be damaged.
bool PlaceInBody(const std::vector<Span>& spans, Plan& plan, std::mt19937_64& random) {
    size_t eligible = 0;
    for (const Span& s : spans) {
        if (!s.Body || Spared(s.Path)) continue;
        if (plan.At >= s.Begin && plan.At < s.End) return true;
        eligible += s.End - s.Begin;
    }
    if (eligible == 0) return false;
    size_t pick = random() % eligible;
    for (const Span& s : spans) {
        if (!s.Body || Spared(s.Path)) continue;
        if (pick < s.End - s.Begin) {
            plan.At = s.Begin + pick;
            return true;
        }
        pick -= s.End - s.Begin;
    }
    return false;
}

const Span& SpanAt(const std::vector<Span>& spans, size_t at) {
    for (const Span& s : spans)
        if (at >= s.Begin && at < s.End) return s;
    return spans.back();
}

// Server to client, where the faults are. Returns true when the connection is to be reset.
bool ForwardResponses(Connection* c) {
    chaos::ResponseReader responses;
    std::vector<char> chunk(kChunk);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto drawKind = [&] { return g.Kinds[c->Random() % g.Kinds.size()]; };
    uint64_t offset = 0;
    // A connection's own fault, when it has one, waits for its offset.
    bool doomed = !g.Kinds.empty() && unit(c->Random) < g.ConnP;
    uint64_t doomAt = doomed ? c->Random() % kConnectionWindow : 0;
    const Kind doomKind = doomed ? drawKind() : kReset;
    for (;;) {
        const ssize_t got = recv(c->Upstream, chunk.data(), chunk.size(), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            shutdown(c->Client, SHUT_WR);
            return false;
        }
        const size_t n = static_cast<size_t>(got);
        const std::vector<Span> spans = responses.Feed(chunk.data(), n, c->Paths);
        std::vector<Plan> plans;
        if (doomed && doomAt < offset + n)
            plans.push_back({doomKind, static_cast<size_t>(doomAt - offset), true});
        if (!g.Kinds.empty() && unit(c->Random) < g.ChunkP)
            plans.push_back({drawKind(), static_cast<size_t>(c->Random() % n), false});

        bool sent = false;
        for (Plan plan : plans) {
            if ((plan.What == kCorrupt || plan.What == kDuplicate) &&
                !PlaceInBody(spans, plan, c->Random)) {
                if (plan.Doom) doomAt = offset + n;  // tried again on the next chunk
                continue;
            }
            if (plan.Doom) doomed = false;
            const Span& span = SpanAt(spans, plan.At);
            const uint64_t where = offset + plan.At;
            switch (plan.What) {
                case kReset:
                case kCut:
                    Log(plan.What, c->Id, where, span, plan.At, "");
                    SendAll(c->Client, chunk.data(), plan.At);
                    if (plan.What == kCut) shutdown(c->Client, SHUT_WR);
                    return plan.What == kReset;
                case kCorrupt:
                    Log(plan.What, c->Id, where, span, plan.At, "");
                    chunk[plan.At] = static_cast<char>(chunk[plan.At] ^ (1 + c->Random() % 255));
                    break;
                case kDuplicate: {
                    const size_t length = 1 + c->Random() % std::min<size_t>(4096, n - plan.At);
                    Log(plan.What, c->Id, where, span, plan.At, " len=" + std::to_string(length));
                    if (!SendAll(c->Client, chunk.data(), plan.At + length) ||
                        !SendAll(c->Client, chunk.data() + plan.At, n - plan.At))
                        return false;
                    sent = true;
                    break;
                }
                case kStall: {
                    const long ms =
                        g.StallMin + static_cast<long>(c->Random() % (g.StallMax - g.StallMin + 1));
                    Log(plan.What, c->Id, where, span, plan.At, " ms=" + std::to_string(ms));
                    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                    break;
                }
                case kKinds:
                    break;
            }
            break;  // one fault per chunk is plenty
        }
        if (!sent && !SendAll(c->Client, chunk.data(), n)) return false;
        offset += n;
    }
}

int ConnectUpstream() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(g.UpstreamPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void Serve(std::unique_ptr<Connection> c) {
    c->Upstream = ConnectUpstream();
    if (c->Upstream < 0) {
        std::fprintf(stderr, "toval-chaos-proxy: connect upstream: %s\n", std::strerror(errno));
        close(c->Client);
        return;
    }
    for (int fd : {c->Client, c->Upstream}) {
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    std::thread requests(ForwardRequests, c.get());
    const bool reset = ForwardResponses(c.get());
    c->Over = true;
    requests.join();
    if (reset) {
        // A zero linger turns the close into a reset.
        linger abort{1, 0};
        setsockopt(c->Client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    close(c->Client);
    close(c->Upstream);
}

bool ParseLong(const char* text, long min, long max, long& out) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < min || value > max) return false;
    out = value;
    return true;
}

bool ParseChance(const char* text, double& out) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= 0 && value <= 1)) return false;
    out = value;
    return true;
}

bool ParseKinds(std::string list) {
    g.Kinds.clear();
    list += ',';
    for (size_t at = 0, comma; (comma = list.find(',', at)) != std::string::npos; at = comma + 1) {
        const std::string name = list.substr(at, comma - at);
        if (name.empty()) continue;
        int k = 0;
        while (k < kKinds && name != kKindNames[k]) ++k;
        if (k == kKinds) return false;
        g.Kinds.push_back(static_cast<Kind>(k));
    }
    return true;
}

bool ParseOptions(int argc, char** argv) {
    long number;
    if (argc < 3 || !ParseLong(argv[1], 0, 65535, number)) return false;
    g.ListenPort = static_cast<uint16_t>(number);
    if (!ParseLong(argv[2], 1, 65535, number)) return false;
    g.UpstreamPort = static_cast<uint16_t>(number);
    for (int i = 3; i < argc; i += 2) {
        if (i + 1 >= argc) return false;
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--seed") {
            char* end = nullptr;
            g.Seed = std::strtoull(value, &end, 10);
            if (end == value || *end != '\0') return false;
        } else if (name == "--chunk-p") {
            if (!ParseChance(value, g.ChunkP)) return false;
        } else if (name == "--conn-p") {
            if (!ParseChance(value, g.ConnP)) return false;
        } else if (name == "--kinds") {
            if (!ParseKinds(value)) return false;
        } else if (name == "--stall-ms") {
            const std::string range = value;
            const size_t dash = range.find('-');
            if (dash == std::string::npos ||
                !ParseLong(range.substr(0, dash).c_str(), 0, 600'000, g.StallMin) ||
                !ParseLong(range.substr(dash + 1).c_str(), g.StallMin, 600'000, g.StallMax))
                return false;
        } else if (name == "--intact") {
            g.Intact.push_back(value);
        } else if (name == "--log") {
            g.Log = std::fopen(value, "a");
            if (!g.Log) return false;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!ParseOptions(argc, argv)) {
        std::fprintf(stderr,
                     "usage: toval-chaos-proxy LISTEN_PORT UPSTREAM_PORT [--seed N] [--chunk-p P] "
                     "[--conn-p P]\n    [--kinds reset,cut,corrupt,duplicate,stall] "
                     "[--stall-ms MIN-MAX] [--intact SUFFIX] [--log FILE]\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    // The soak restarts the proxy on the same port for every run, while the last run's
    // connections may still linger in TIME_WAIT.
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(g.ListenPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 ||
        listen(listener, SOMAXCONN) < 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length) < 0) {
        std::fprintf(stderr, "toval-chaos-proxy: listen: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("listening 127.0.0.1:%u\n", unsigned{ntohs(addr.sin_port)});
    std::fflush(stdout);

    for (uint64_t id = 1;; ++id) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EINTR && errno != ECONNABORTED)
                std::fprintf(stderr, "toval-chaos-proxy: accept: %s\n", std::strerror(errno));
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->Id = id;
        c->Client = fd;
        // Each connection draws from its own sequence, so one connection's faults do not
        // depend on how the threads of the others interleave.
        std::seed_seq seeds{g.Seed, id};
        c->Random.seed(seeds);
        std::thread(Serve, std::move(c)).detach();
    }
}
