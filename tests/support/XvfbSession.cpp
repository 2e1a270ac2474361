#include "tests/support/XvfbSession.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/directories.h"
#include "platform/xcb_connection.h"

extern char** environ;

namespace toval::test {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kStartLimit = std::chrono::seconds(15);

std::vector<std::string> EnvironmentWith(const std::string& display) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
    }
    env.push_back("DISPLAY=" + display);
    return env;
}

// `log` receives the program's output; /dev/null when empty. Descriptors opened without
// close-on-exec (the -displayfd pipe) are inherited as they are.
pid_t Spawn(const char* const argv[], const std::vector<std::string>& env,
            const std::string& log = {}) {
    const char* out = log.empty() ? "/dev/null" : log.c_str();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc =
        posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

bool Exited(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}
}  // namespace

pid_t SpawnOnDisplay(const std::string& display, const char* const argv[]) {
    return Spawn(argv, EnvironmentWith(display));
}

void StopProcess(pid_t pid, std::chrono::milliseconds grace) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + grace;
    while (Clock::now() < deadline) {
        if (Exited(pid)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

XvfbSession::XvfbSession(Tray tray) {
    // Each server takes its number by binding the number's abstract socket, which clients also
    // connect through, and reports it only once it is ready, so parallel sessions cannot share
    // or lose a display. A trayer that once failed to open its display under parallel starts
    // has not been seen to again; a fresh server on a fresh number stays as a guard.
    for (int attempt = 0; attempt < 3; ++attempt) {
        Reason.clear();
        if (StartXvfb() && (tray == WithoutTray || StartTray())) return;
        // Said even when a later attempt succeeds, so that the cause of a retry can be found.
        std::fprintf(stderr, "XvfbSession: attempt %d on %s failed: %s\n", attempt + 1,
                     Name.c_str(), Reason.c_str());
        StopProcess(TrayPid);
        StopProcess(XvfbPid);
        TrayPid = XvfbPid = -1;
    }
}

XvfbSession::~XvfbSession() {
    StopProcess(TrayPid);
    StopProcess(XvfbPid);
}

bool XvfbSession::StartXvfb() {
    int fds[2];
    if (pipe2(fds, 0) != 0) {
        Reason = "pipe failed";
        return false;
    }
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb",         "-displayfd", fd.c_str(), "-screen",  "0",
                          "1280x1024x24", "-nolisten",  "tcp",      "-noreset", nullptr};
    XvfbPid = Spawn(argv, EnvironmentWith(""));
    close(fds[1]);
    if (XvfbPid <= 0) {
        close(fds[0]);
        Reason = "Xvfb could not be started";
        return false;
    }
    // Xvfb writes the display number and a newline once it accepts connections.
    std::string number;
    const auto deadline = Clock::now() + kStartLimit;
    while (Clock::now() < deadline && number.find('\n') == std::string::npos) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buffer[32];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        number.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        Reason = "Xvfb reported no display number";
        return false;
    }
    // Not ":" + number.substr(...): GCC 12 at -O3 falsely warns (-Wrestrict) on a literal plus a
    // temporary string.
    Name = std::string(":").append(number, 0, number.find('\n'));
    return true;
}

bool XvfbSession::StartTray() {
    const char* argv[] = {"trayer",  "--edge",   "top",  "--align",       "right", "--widthtype",
                          "request", "--height", "32",   "--SetDockType", "true",  "--transparent",
                          "false",   "--expand", "true", nullptr};
    const std::string log = TempDirectory() + "/toval-trayer-" + std::to_string(getpid()) + ".log";
    TrayPid = Spawn(argv, EnvironmentWith(Name), log);
    if (TrayPid <= 0) {
        Reason = "trayer could not be started";
        return false;
    }
    const auto deadline = Clock::now() + kStartLimit;
    while (Clock::now() < deadline) {
        if (TrayReady()) {
            unlink(log.c_str());
            return true;
        }
        if (Exited(TrayPid)) {
            TrayPid = -1;
            std::ifstream in(log);
            Reason = "trayer ended at start: " + std::string(std::istreambuf_iterator<char>(in),
                                                             std::istreambuf_iterator<char>());
            unlink(log.c_str());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Reason = "trayer did not take the tray selection";
    return false;
}

bool XvfbSession::TrayReady() const {
    XcbConnection x(Name.c_str());
    const xcb_atom_t selection = x.InternAtom("_NET_SYSTEM_TRAY_S0");
    if (selection == XCB_ATOM_NONE) return false;
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        x.get(), xcb_get_selection_owner(x.get(), selection), nullptr);
    if (!reply) return false;
    const bool owned = reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    return owned;
}

}  // namespace toval::test
