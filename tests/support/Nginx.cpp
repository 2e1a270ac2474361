#include "tests/support/Nginx.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace toval::test {

namespace {

// A port nobody listens on right now; nginx binds it a moment later (retried on a clash).
uint16_t PickFreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

bool Accepts(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

std::string NginxBinary() {
    for (const char* candidate : {"/usr/sbin/nginx", "/usr/bin/nginx"})
        if (::access(candidate, X_OK) == 0) return candidate;
    return "nginx";
}

}  // namespace

Nginx::Nginx(const std::string& root, uint64_t limitRate, bool gzipStatic)
    : GzipStatic(gzipStatic), LimitRate(limitRate) {
    for (int attempt = 0; attempt < 5 && !Running(); ++attempt) Start(root);
}

Nginx::Nginx(const std::string& root, NginxTls tls) : Tls(std::move(tls)) {
    for (int attempt = 0; attempt < 5 && !Running(); ++attempt) Start(root);
}

Nginx::~Nginx() { Stop(); }

std::string Nginx::Url(const std::string& path) const {
    return (Tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(ListenPort) + "/" +
           path;
}

bool Nginx::Start(const std::string& root) {
    ListenPort = PickFreePort();
    if (ListenPort == 0) {
        Reason = "no free port";
        return false;
    }
    const std::string prefix = Work.Path();
    std::ofstream conf(prefix + "/nginx.conf", std::ios::trunc);
    // Run as root, the workers would otherwise drop to "nobody" and could not read a test's
    // private temporary directories.
    if (::geteuid() == 0) conf << "user root;\n";
    conf << "daemon off;\nmaster_process on;\nworker_processes 1;\n"
         << "pid " << prefix << "/nginx.pid;\n"
         << "error_log " << prefix << "/error.log warn;\n"
         << "events { worker_connections 512; }\n"
         << "http {\n"
         << "  log_format plain escape=none '$uri $status';\n"
         << "  log_format connections escape=none '$connection $uri';\n"
         << "  access_log " << prefix << "/access.log plain;\n"
         << "  log_format sent escape=none '$uri $status $bytes_sent';\n"
         << "  access_log " << prefix << "/connections.log connections;\n"
         << "  access_log " << prefix << "/sent.log sent;\n"
         << "  log_format protocols escape=none '$server_protocol $uri';\n"
         << "  access_log " << prefix << "/protocols.log protocols;\n"
         << "  client_body_temp_path " << prefix << "/body;\n"
         << "  proxy_temp_path " << prefix << "/proxy;\n"
         << "  fastcgi_temp_path " << prefix << "/fastcgi;\n"
         << "  uwsgi_temp_path " << prefix << "/uwsgi;\n"
         << "  scgi_temp_path " << prefix << "/scgi;\n"
         << "  types { text/xml xml; text/html html; }\n"
         << "  default_type application/octet-stream;\n"
         << "  sendfile on;\n"
         << "  limit_rate " << LimitRate << ";\n"
         << "  server {\n"
         << "    listen 127.0.0.1:" << ListenPort
         << (!Tls         ? ""
             : Tls->Http2 ? " ssl http2"
                          : " ssl")
         << ";\n"
         << (Tls ? "    ssl_certificate " + Tls->Certificate + ";\n    ssl_certificate_key " +
                       Tls->Key + ";\n"
                 : "")
         << "    root " << root << ";\n"
         << (GzipStatic ? "    gzip_static on;\n    gzip_http_version 1.0;\n" : "") << "  }\n"
         << "}\n";
    conf.close();
    // Truncate the logs of an earlier attempt.
    std::ofstream(prefix + "/access.log", std::ios::trunc).close();
    const std::string pidFile = prefix + "/nginx.pid";
    ::unlink(pidFile.c_str());

    const std::string binary = NginxBinary();
    const std::string confPath = prefix + "/nginx.conf";
    const std::string errorLog = prefix + "/error.log";
    const pid_t pid = ::fork();
    if (pid < 0) {
        Reason = "fork failed";
        return false;
    }
    if (pid == 0) {
        ::execl(binary.c_str(), binary.c_str(), "-p", prefix.c_str(), "-c", confPath.c_str(), "-e",
                errorLog.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            std::ifstream log(errorLog);
            std::stringstream text;
            text << log.rdbuf();
            Reason = "nginx exited: " + text.str();
            return false;
        }
        // nginx writes its pid file only once it has bound the port. Another program may have
        // taken the port since it was picked, and would answer a connection just the same.
        if (ReadFile(pidFile) == std::to_string(pid) + "\n" && Accepts(ListenPort)) {
            Pid = pid;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    Reason = "nginx did not start listening";
    return false;
}

void Nginx::Stop() {
    if (Pid <= 0) return;
    // SIGTERM is nginx's fast shutdown; the master takes its workers with it.
    ::kill(Pid, SIGTERM);
    int status = 0;
    while (::waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
    }
    Pid = -1;
}

std::vector<std::string> Nginx::Requests() const { return Log("access.log"); }

size_t Nginx::Served(const std::string& path) const {
    const std::vector<std::string> log = Requests();
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const std::string& line) {
        return line.starts_with(path + " ");
    }));
}

std::vector<std::string> Nginx::Connections() const { return Log("connections.log"); }

std::vector<std::string> Nginx::Protocols() const { return Log("protocols.log"); }

uint64_t Nginx::BytesSent(const std::string& path, int status) const {
    uint64_t total = 0;
    for (const std::string& line : Log("sent.log")) {
        const size_t last = line.rfind(' ');
        const size_t code = line.rfind(' ', last - 1);
        if (last == std::string::npos || code == std::string::npos) continue;
        if (line.substr(0, code) != path) continue;
        if (status != 0 && line.substr(code + 1, last - code - 1) != std::to_string(status))
            continue;
        total += std::stoull(line.substr(last + 1));
    }
    return total;
}

std::vector<std::string> Nginx::Log(const std::string& name) const {
    const auto read = [&] {
        std::vector<std::string> lines;
        std::ifstream log(Work.Path() + "/" + name);
        for (std::string line; std::getline(log, line);)
            if (!line.empty()) lines.push_back(line);
        return lines;
    };
    // nginx logs a request once it has answered it, which can be a moment after the client has
    // read the whole answer; the log is taken once it has stopped growing.
    std::vector<std::string> lines = read();
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::vector<std::string> again = read();
        if (again == lines) break;
        lines = std::move(again);
    }
    return lines;
}

}  // namespace toval::test
