// A stand-in for the game lobby on Windows: writes its arguments, one per line in UTF-8, to
// NAME.txt beside itself (lobby.exe writes lobby.txt), so a test or the demo can see that it was
// started and with what.

#include <windows.h>

#include <shellapi.h>

#include <string>

namespace {
std::string Utf8(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}
}  // namespace

int main() {
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    wchar_t self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (!args || length == 0 || length >= MAX_PATH) return 1;
    std::wstring record(self, length);
    const size_t dot = record.rfind(L'.');
    record = (dot == std::wstring::npos ? record : record.substr(0, dot)) + L".txt";

    std::string lines;
    for (int i = 1; i < count; ++i) lines += Utf8(args[i]) + "\n";
    // Written under another name and moved into place, so a reader never sees half of it.
    const std::wstring partial = record + L".partial";
    const HANDLE file = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const bool ok =
        ::WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) &&
        written == lines.size();
    ::CloseHandle(file);
    return ok && ::MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
