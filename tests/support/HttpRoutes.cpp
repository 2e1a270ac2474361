// The test HTTP server's script: the answer each request gets (a route, a file of the served
// directory, or an unexpected 404) and the record of every request, which tests read and wait on.

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/utf8_path.h"
#include "tests/support/HttpServer.h"

namespace toval::test {

namespace {

// The file a static server would answer `target` with: its path decoded from %XX, without its
// query; a path that climbs out of `root` or names no regular file is a 404.
Response FileResponse(const std::string& root, const std::string& target) {
    std::string path;
    const std::string raw = target.substr(0, target.find('?'));
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size() &&
            std::isxdigit(static_cast<unsigned char>(raw[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(raw[i + 2]))) {
            path += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += raw[i];
        }
    }
    const std::filesystem::path relative = PathOfUtf8(path).relative_path().lexically_normal();
    if (relative.empty() || *relative.begin() == "..") return Response{404, "not found"};
    std::ifstream in(PathOfUtf8(root) / relative, std::ios::binary);
    std::error_code ec;
    if (!in || !std::filesystem::is_regular_file(PathOfUtf8(root) / relative, ec))
        return Response{404, "not found"};
    std::ostringstream body;
    body << in.rdbuf();
    return Response{200, body.str()};
}

}  // namespace

void HttpServer::ServeDirectory(const std::string& root) {
    std::lock_guard lock(Mutex);
    Root = root;
}

void HttpServer::Route(const std::string& target, Response response) {
    std::lock_guard lock(Mutex);
    Routes[target] = std::move(response);
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

Response HttpServer::AnswerFor(Request request) {
    std::lock_guard lock(Mutex);
    auto route = Routes.find(request.Target);
    if (route == Routes.end()) {
        const std::string path = request.Target.substr(0, request.Target.find('?'));
        route = Routes.find(path);
    }
    Response reply;
    if (route != Routes.end()) {
        const Response& r = route->second;
        reply = r.Ranged && !request.Header("Range").empty() ? *r.Ranged : r;
    } else if (!Root.empty()) {
        reply = FileResponse(Root, request.Target);
    } else {
        reply = Response{404, "not found"};
        Unexpected.push_back(request);
    }
    request.Status = reply.Status;
    Received.push_back(std::move(request));
    Arrived.notify_all();
    return reply;
}

}  // namespace toval::test
