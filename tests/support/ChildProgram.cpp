// One file for both systems: this folder's build takes every source it holds on each of them.
#include "tests/support/ChildProgram.h"

#include <functional>
#include <thread>

#include "platform/directories.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/shell_words.h"
#include "platform/wide_text.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;
#endif

namespace toval::test {

#ifdef _WIN32

namespace {

void Drain(HANDLE pipe, std::string& into) {
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        into.append(buffer, got);
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& args) {
    ProgramRun run;
    std::wstring command = Widen(JoinWindowsCommandLine(args));
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) return run;
    if (!::CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        ::CloseHandle(outRead);
        ::CloseHandle(outWrite);
        return run;
    }
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    const HANDLE input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    const bool started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    // Only the child holds the write ends now, so the reads end when it does.
    ::CloseHandle(outWrite);
    ::CloseHandle(errWrite);
    if (input != INVALID_HANDLE_VALUE) ::CloseHandle(input);
    if (started) {
        std::thread errors(Drain, errRead, std::ref(run.Err));
        Drain(outRead, run.Out);
        errors.join();
        DWORD code = 0;
        if (::WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
            ::GetExitCodeProcess(process.hProcess, &code))
            run.Status = static_cast<int>(code);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(outRead);
    ::CloseHandle(errRead);
    return run;
}

std::string BuiltProgram(const std::string& name) {
    return ProgramDirectory() + "/" + name + ".exe";
}

#else

ProgramRun RunProgram(const std::vector<std::string>& args) {
    ProgramRun run;
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return run;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return run;
    }
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    // Both pipes at once: a child that fills one while we wait on the other would never end.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&run.Out, &run.Err};
    int open = 2;
    while (spawned == 0 && open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) {
                into[i]->append(buffer, static_cast<size_t>(n));
                continue;
            }
            fds[i].fd = -1;
            --open;
        }
    }
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    if (spawned == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.Status = WEXITSTATUS(status);
    return run;
}

std::string BuiltProgram(const std::string& name) { return ProgramDirectory() + "/" + name; }

#endif

}  // namespace toval::test
