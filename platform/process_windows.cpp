#include <windows.h>

#include <shellapi.h>

#include <cstring>

#include "platform/file_handle.h"
#include "platform/process.h"
#include "platform/shell_words.h"
#include "platform/wide_text.h"

namespace toval {

namespace {

constexpr uint16_t kMachineI386 = 0x014c;

// The machine field of a PE file's header; 0 when the file is not one.
uint16_t MachineType(const std::string& path) {
    FileHandle file = FileHandle::Open(path, OpenFor::Read);
    uint8_t dos[64];
    if (!file.IsOpen() || file.ReadAt(dos, sizeof dos, 0) != sizeof dos || dos[0] != 'M' ||
        dos[1] != 'Z')
        return 0;
    uint32_t pe = 0;
    std::memcpy(&pe, dos + 0x3C, sizeof pe);  // little-endian, as Windows is
    uint8_t head[6];
    if (file.ReadAt(head, sizeof head, pe) != sizeof head || std::memcmp(head, "PE\0\0", 4) != 0)
        return 0;
    return static_cast<uint16_t>(head[4] | head[5] << 8);
}

std::wstring SystemFolder(bool wow64) {
    wchar_t buffer[MAX_PATH];
    UINT length = wow64 ? ::GetSystemWow64DirectoryW(buffer, MAX_PATH) : 0;
    // A 32-bit Windows has no separate folder: its system folder is the 32-bit one.
    if (length == 0 || length >= MAX_PATH) length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

}  // namespace

ProgramKind ClassifyProgram(const std::string& path) {
    if (path.empty() || ExaminePath(path).Kind != PathKind::Regular) return ProgramKind::Missing;
    FileHandle file = FileHandle::Open(path, OpenFor::Read);
    char head[2] = {};
    if (!file.IsOpen() || file.Read(head, sizeof head) != sizeof head) return ProgramKind::Other;
    return head[0] == 'M' && head[1] == 'Z' ? ProgramKind::Windows : ProgramKind::Other;
}

std::string FindInPath(const std::string& name) {
    if (name.empty() || name.find_first_of("/\\") != std::string::npos) return {};
    // Only PATH: the program's own and the current directory are the caller's to look in first.
    const DWORD pathLength = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (pathLength == 0) return {};
    std::wstring dirs(pathLength, L'\0');
    dirs.resize(::GetEnvironmentVariableW(L"PATH", dirs.data(), pathLength));
    std::wstring found(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::SearchPathW(dirs.c_str(), Widen(name).c_str(), nullptr,
                                           static_cast<DWORD>(found.size()), found.data(), nullptr);
        if (length == 0) return {};
        if (length < found.size()) {
            found.resize(length);
            break;
        }
        found.resize(length);
    }
    const std::string path = Narrow(found);
    return ExaminePath(path).Kind == PathKind::Regular ? path : std::string();
}

// Windows has no process of ours to hand a start mark to: the caller takes its step.
bool StartDetached(const std::string& program, const std::vector<std::string>& args, StartMark*) {
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::wstring line = Widen(JoinWindowsCommandLine(words));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // No handle of ours is inherited, and a console program gets no share of our console: a
    // lobby that runs for hours must not hold the pipe on which our caller reads our output.
    if (!::CreateProcessW(Widen(program).c_str(), line.data(), nullptr, nullptr, FALSE,
                          DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT,
                          nullptr, nullptr, &startup, &started))
        return false;
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return true;
}

namespace {
// The shell's default action for `path`: a program runs, a document opens in its program.
bool ShellStart(const std::string& path, const std::wstring& parameters) {
    const std::wstring file = Widen(path);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // No dialog the player would have to answer, and done before the call returns, since the
    // updater may exit right after.
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.nShow = SW_SHOW;
    return ::ShellExecuteExW(&info) != FALSE;
}
}  // namespace

bool StartFile(const std::string& path, const std::vector<std::string>& args, StartMark*) {
    if (ClassifyProgram(path) == ProgramKind::Missing) return false;
    return ShellStart(path, Widen(JoinWindowsCommandLine(args)));
}

bool ExecuteFile(const std::string& path, const std::string& parameters, StartMark*) {
    if (ClassifyProgram(path) == ProgramKind::Missing) return false;
    return ShellStart(path, Widen(parameters));
}

std::string RegistrationProgram(const std::string& path) {
    const std::wstring folder = SystemFolder(MachineType(path) == kMachineI386);
    return folder.empty() ? std::string() : Narrow(folder) + "\\regsvr32.exe";
}

bool RegisterComponent(const std::string& path, StartMark*) {
    const std::string regsvr32 = RegistrationProgram(path);
    return !regsvr32.empty() && StartDetached(regsvr32, {"/s", path});
}

bool StartProgram(const std::string& path, const std::vector<std::string>& args, StartMark*) {
    return ClassifyProgram(path) == ProgramKind::Windows && StartDetached(path, args);
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

}  // namespace toval
