#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdlib>

#include "platform/standard_streams.h"
#include "platform/wide_text.h"

namespace toval {

namespace {
UINT SavedOutputPage = 0;

void RestoreOutputPage() { ::SetConsoleOutputCP(SavedOutputPage); }

bool IsValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

HANDLE NativeHandle(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}
}  // namespace

std::vector<std::string> CommandArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(Narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void SetUpStandardStreams() {
    // The updater is a windowed program, so it gets no console of its own; started from a
    // console without redirection, it writes to that one, as a console program would.
    if (!IsValid(::GetStdHandle(STD_OUTPUT_HANDLE)) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::FILE* ignored = nullptr;
        ::freopen_s(&ignored, "CONOUT$", "w", stdout);
        if (!IsValid(::GetStdHandle(STD_ERROR_HANDLE)))
            ::freopen_s(&ignored, "CONOUT$", "w", stderr);
    }
    // Bytes as written: the C runtime would otherwise turn every "\n" into "\r\n", and readers
    // of the status lines would see other lines than on Linux.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    // A console shows the UTF-8 we write when its output code page says so; the player's own
    // code page comes back when we exit. The progress line's escape sequences need the
    // console's terminal mode.
    if (IsTerminal(stdout) || IsTerminal(stderr)) {
        SavedOutputPage = ::GetConsoleOutputCP();
        if (SavedOutputPage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8))
            std::atexit(RestoreOutputPage);
        DWORD mode = 0;
        const HANDLE err = NativeHandle(stderr);
        if (::GetConsoleMode(err, &mode))
            ::SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

bool IsTerminal(std::FILE* stream) {
    DWORD mode = 0;
    return ::GetConsoleMode(NativeHandle(stream), &mode) != 0;
}

}  // namespace toval
