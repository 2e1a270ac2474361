#include "http_stream.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace chaos {

namespace {

// A head that never ends is not HTTP; dropping it keeps a confused stream from growing memory.
constexpr size_t kMaxHead = 64 << 10;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

void PathQueue::Push(std::string path) {
    std::lock_guard<std::mutex> hold(Lock);
    Paths.push_back(std::move(path));
}

std::string PathQueue::Pop() {
    std::lock_guard<std::mutex> hold(Lock);
    if (Paths.empty()) return "?";
    std::string path = std::move(Paths.front());
    Paths.pop_front();
    return path;
}

void RequestReader::Feed(const char* data, size_t size, PathQueue& paths) {
    Pending.append(data, size);
    for (;;) {
        const size_t end = Pending.find("\r\n\r\n");
        if (end == std::string::npos) break;
        // "GET /path?query HTTP/1.0": the path is what a suffix test needs.
        const size_t first = Pending.find(' ');
        const size_t second = first == std::string::npos ? first : Pending.find(' ', first + 1);
        std::string path = second == std::string::npos || second > end
                               ? "?"
                               : Pending.substr(first + 1, second - first - 1);
        path = path.substr(0, path.find('?'));
        paths.Push(path.empty() ? "?" : path);
        Pending.erase(0, end + 4);
    }
    if (Pending.size() > kMaxHead) Pending.clear();
}

std::vector<Span> ResponseReader::Feed(const char* data, size_t size, PathQueue& paths) {
    std::vector<Span> spans;
    size_t at = 0;
    while (at < size) {
        if (Current == State::Head) {
            const size_t begin = at;
            // Heads are a few hundred bytes: scanning them byte by byte costs nothing.
            while (at < size && Current == State::Head) {
                Head.push_back(data[at++]);
                if (Head.size() >= 4 && Head.compare(Head.size() - 4, 4, "\r\n\r\n") == 0) {
                    HeadDone(paths);
                } else if (Head.size() > kMaxHead) {
                    Head.clear();
                }
            }
            spans.push_back({begin, at, false, 0, Path});
            continue;
        }
        size_t take = size - at;
        if (Current == State::Body) take = static_cast<size_t>(std::min<uint64_t>(take, Remaining));
        spans.push_back({at, at + take, true, BodyOffset, Path});
        at += take;
        BodyOffset += take;
        if (Current == State::Body) {
            Remaining -= take;
            if (Remaining == 0) Current = State::Head;
        }
    }
    return spans;
}

void ResponseReader::HeadDone(PathQueue& paths) {
    const std::string head = Lower(Head);
    Head.clear();
    const size_t space = head.find(' ');
    const int status = space == std::string::npos ? 0 : std::atoi(head.c_str() + space + 1);
    // An interim answer precedes the real one to the same request.
    if (status >= 100 && status < 200) return;
    Path = paths.Pop();
    BodyOffset = 0;
    if (status == 204 || status == 304) return;
    const size_t field = head.find("\r\ncontent-length:");
    if (field == std::string::npos) {
        Current = State::ToEnd;
        return;
    }
    Remaining = std::strtoull(head.c_str() + field + 17, nullptr, 10);
    if (Remaining > 0) Current = State::Body;
}

}  // namespace chaos
