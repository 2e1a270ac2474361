#include "engine/file_mode.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <fstream>
#include <string>
#endif

namespace toval {

#ifndef _WIN32
namespace {

// The bits a file created now loses to the process's umask. umask(2) can only be read by
// setting it, and the transfers create files on other threads meanwhile, so it is read from
// /proc instead; where that cannot be had the usual 022 is assumed, which takes nothing from
// the 0644 files are created with.
mode_t CreationMask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) != 0) continue;
        mode_t mask = 0;
        bool digits = false;
        for (const char c : line.substr(6)) {
            if (c >= '0' && c <= '7') {
                mask = (mask << 3 | static_cast<mode_t>(c - '0')) & 07777;
                digits = true;
            } else if (c != ' ' && c != '\t') {
                return 022;
            }
        }
        return digits ? mask & 0777 : 022;
    }
    return 022;
}

}  // namespace
#endif

uint32_t FileModeFor(const CFileEntry& file) {
#ifdef _WIN32
    (void)file;
    return 0;
#else
    // The new copy takes over the permissions of the copy it replaces, so an updated program
    // stays executable and a player's own restrictions stay in force. A file with no copy
    // before it gets what the download was created with (0644 less the umask). A file the
    // catalogue asks to run, or names executable, gets execute permission wherever it may be
    // read, and nothing else: a catalogue never takes bits away, never adds write or read
    // permission, and never sets the set-id or sticky bits. The transfer sets the mode on its
    // own descriptor before the file is renamed.
    uint32_t mode = 0;
    struct stat st {};
    if (::stat(file.FullPath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 0777;
    if (!file.Execute && !file.Executable) return mode;
    if (mode == 0) mode = 0644 & ~CreationMask();
    return mode | (mode & 0444) >> 2;
#endif
}

}  // namespace toval
