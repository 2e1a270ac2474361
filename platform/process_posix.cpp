#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/path_join.h"
#include "platform/shell_words.h"

namespace toval {

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Marks every descriptor from 3 up close-on-exec, so that the started program inherits none of
// ours (sockets, files being written, the error pipe of StartDetached).
void CloseInheritedDescriptors() {
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) == 0) return;
#endif
    const long limit = ::sysconf(_SC_OPEN_MAX);
    for (long fd = 3; fd < (limit > 0 ? limit : 1024); ++fd)
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
}

}  // namespace

ProgramKind ClassifyProgram(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return ProgramKind::Missing;
    char head[4] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return ProgramKind::Other;
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    const bool executable = ::access(path.c_str(), X_OK) == 0;
    if (got >= 4 &&
        std::memcmp(head,
                    "\x7f"
                    "ELF",
                    4) == 0 &&
        executable)
        return ProgramKind::Native;
    if (got >= 2 && head[0] == '#' && head[1] == '!' && executable) return ProgramKind::Native;
    if (got >= 2 && head[0] == 'M' && head[1] == 'Z') return ProgramKind::Windows;
    return ProgramKind::Other;
}

std::string FindInPath(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return {};
    const char* env = std::getenv("PATH");
    const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find(':', begin);
        if (end == std::string::npos) end = path.size();
        // An empty PATH element means the current directory, as the shell reads it.
        const std::string dir = end == begin ? "." : path.substr(begin, end - begin);
        const std::string candidate = JoinPath(dir, name);
        if (IsExecutableFile(candidate)) return candidate;
        begin = end + 1;
    }
    return {};
}

bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   StartMark* mark) {
    // Everything the children need is built before fork: after it, in a threaded process, only
    // async-signal-safe calls are allowed.
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const char* markFrom = mark && !mark->From.empty() ? mark->From.c_str() : nullptr;
    const char* markTo = mark ? mark->To.c_str() : nullptr;

    // The grandchild reports a failed exec through this pipe; a successful exec closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;

    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        // The middle process waits only for the exec, so the program is adopted by init (or the
        // nearest subreaper) and never becomes our zombie; we reap only this short-lived child.
        // In a session of its own it outlives a kill of the updater, and takes the mark's step
        // once the program runs.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            ::close(report[1]);
            int error = 0;
            ssize_t got = -1;
            if (grandchild > 0) {
                do {
                    got = ::read(report[0], &error, sizeof error);
                } while (got < 0 && errno == EINTR);
            }
            if (markTo) {
                if (markFrom) {
                    ::rename(markFrom, markTo);
                } else {
                    ::unlink(markTo);
                }
            }
            ::_exit(got == 0 ? 0 : 127);
        }
        ::close(report[0]);
        // The program gets none of our standard streams: a lobby that runs for hours must not
        // hold open a pipe on which our caller waits for the end of our output, and what it
        // prints cannot mix with the status lines.
        const int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            for (int fd = 0; fd <= 2; ++fd) ::dup2(devnull, fd);
            if (devnull > 2) ::close(devnull);
        }
        CloseInheritedDescriptors();
        // Ignored signals and the signal mask survive exec; the program starts with neither of
        // ours (the updater ignores SIGPIPE for itself).
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &standard, nullptr);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(program.c_str(), argv.data());
        const int error = errno;
        ssize_t ignored = ::write(report[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }
    ::close(report[0]);
    ::close(report[1]);
    if (mark) mark->Done = true;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool StartFile(const std::string& path, const std::vector<std::string>& args, StartMark* mark) {
    switch (ClassifyProgram(path)) {
        case ProgramKind::Missing:
            return false;
        case ProgramKind::Native:
            return StartDetached(path, args, mark);
        case ProgramKind::Windows:
            if (!FindInPath("wine").empty()) return StartProgram(path, args, mark);
            break;
        case ProgramKind::Other:
            break;
    }
    const std::string opener = FindInPath("xdg-open");
    return !opener.empty() && StartDetached(opener, {path}, mark);
}

bool ExecuteFile(const std::string& path, const std::string& parameters, StartMark* mark) {
    // Parameters that do not split (an open quote) would start the program with arguments it was
    // never meant to see, so it is not started at all.
    const auto args = SplitShellWords(parameters);
    return args && StartFile(path, *args, mark);
}

std::string RegistrationProgram(const std::string&) { return FindInPath("regsvr32"); }

bool RegisterComponent(const std::string& path, StartMark* mark) {
    const std::string regsvr32 = RegistrationProgram(path);
    return !regsvr32.empty() && StartDetached(regsvr32, {"/s", path}, mark);
}

bool StartProgram(const std::string& path, const std::vector<std::string>& args, StartMark* mark) {
    switch (ClassifyProgram(path)) {
        case ProgramKind::Native:
            return StartDetached(path, args, mark);
        case ProgramKind::Windows:
            if (const std::string wine = FindInPath("wine"); !wine.empty()) {
                std::vector<std::string> wineArgs{path};
                wineArgs.insert(wineArgs.end(), args.begin(), args.end());
                return StartDetached(wine, wineArgs, mark);
            }
            return false;
        default:
            return false;
    }
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

}  // namespace toval
