#include "engine/file_mode.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace toval {

uint32_t FileModeFor(const CFileEntry& file) {
    // The new file takes over the permissions of the copy it replaces, so an updated program
    // stays executable; a file the catalogue asks to run gets execute permission wherever it
    // may be read. The transfer sets them on its own descriptor before the file is renamed.
    // Windows files have no such bits.
    uint32_t mode = 0;
#ifndef _WIN32
    struct stat st {};
    if (::stat(file.FullPath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 0777;
#endif
    if (file.Execute) {
        if (mode == 0) mode = 0644;
        mode |= (mode & 0444) >> 2;
    }
    return mode;
}

}  // namespace toval
