#include <windows.h>

#include <vector>

#include "platform/directories.h"
#include "platform/wide_text.h"

namespace toval {

namespace {

// A directory as the system gives it, without the separator some calls leave at its end (a
// drive's root keeps its own: "C:\").
std::string WithoutTrailingSeparators(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return Narrow(path);
}

// The text a size-asking call fills in; empty when it fails.
template <typename Call>
std::wstring Filled(Call call) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const UINT n = call(buffer.data(), static_cast<UINT>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        if (buffer.size() >= 32768) return {};
        buffer.resize(n + 1 > buffer.size() * 2 ? n + 1 : buffer.size() * 2);
    }
}

}  // namespace

std::string ProgramDirectory() {
    const std::wstring exe = Filled([](wchar_t* b, UINT size) {
        const DWORD n = ::GetModuleFileNameW(nullptr, b, size);
        // A name cut short fills the buffer exactly: ask again with more room.
        return n >= size ? size : static_cast<UINT>(n);
    });
    const size_t slash = exe.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    return WithoutTrailingSeparators(exe.substr(0, slash + 1));
}

std::string WindowsDirectory() { return WithoutTrailingSeparators(Filled(::GetWindowsDirectoryW)); }

std::string SystemDirectory() { return WithoutTrailingSeparators(Filled(::GetSystemDirectoryW)); }

std::string TempDirectory() {
    return WithoutTrailingSeparators(
        Filled([](wchar_t* b, UINT size) { return static_cast<UINT>(::GetTempPathW(size, b)); }));
}

}  // namespace toval
