#include <windows.h>

#include "platform/crypto.h"
#include "platform/directories.h"
#include "platform/path_join.h"
#include "platform/temp_file.h"
#include "platform/wide_text.h"

namespace toval {

std::string CreateTempFile(const std::string& prefix, const std::string& suffix) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    const std::string dir = TempDirectory();
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint8_t random[6];
        if (!RandomBytes(random, sizeof random)) return {};
        std::string name = prefix;
        for (const uint8_t r : random) name += kLetters[r % (sizeof kLetters - 1)];
        const std::string path = JoinPath(dir, name + suffix);
        // Created only when it did not exist, like mkstemps.
        const HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
            return path;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) return {};
    }
    return {};
}

}  // namespace toval
