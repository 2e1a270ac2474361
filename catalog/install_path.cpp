#include "catalog/install_path.h"

#include <algorithm>
#include <string_view>

#include "catalog/CFileEntry.h"
#include "platform/directories.h"
#include "platform/text.h"

namespace toval {

namespace {

std::string WithSlashes(std::string text) {
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

// A catalogue path part may only name something below its base: not absolute, no drive, no
// "..", and no NUL that would cut the path short where the system reads it.
bool StaysInside(std::string_view part) {
    if (part.empty()) return true;
    if (part.front() == '/') return false;
    const auto c = static_cast<unsigned char>(part[0]);
    if (part.size() >= 2 && part[1] == ':' && ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'))
        return false;
    if (part.find('\0') != std::string_view::npos) return false;
    std::size_t start = 0;
    while (start <= part.size()) {
        std::size_t end = part.find('/', start);
        if (end == std::string_view::npos) end = part.size();
        if (part.substr(start, end - start) == "..") return false;
        start = end + 1;
    }
    return true;
}

// "data\\maps\\" + "a.dll" joins to "data//maps//a.dll" as the catalogue spells it; runs of
// separators are folded to one so the path reads as it will be shown.
std::string CollapseSeparators(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path)
        if (c != '/' || out.empty() || out.back() != '/') out += c;
    return out;
}

}  // namespace

BaseDirectories BaseDirectories::FromSystem() {
    return BaseDirectories{ProgramDirectory(), WindowsDirectory(), SystemDirectory()};
}

const std::string& BaseForInstallDir(const BaseDirectories& dirs, const std::string& installDir) {
    if (EqualsIgnoringAsciiCase(installDir, "WINDOWSDIR")) return dirs.WindowsDir;
    if (EqualsIgnoringAsciiCase(installDir, "SYSTEMDIR")) return dirs.SystemDir;
    return dirs.ProgramDir;
}

bool BuildFullPath(CFileEntry& entry, const BaseDirectories& dirs) {
    entry.FullPath.clear();
    const std::string& base = BaseForInstallDir(dirs, entry.InstallDir);
    // An unknown base would turn every catalogue path into one from the root directory.
    if (base.empty()) return false;
    const std::string local = WithSlashes(entry.LocalPath);
    const std::string name = WithSlashes(entry.FileName);
    if (!StaysInside(local) || !StaysInside(name)) return false;
    // A name must name a file: an empty one, one ending in a separator or in "." would download
    // to ".update" or "..update" beside a directory on every run.
    const std::string_view last = std::string_view(name).substr(name.find_last_of('/') + 1);
    if (last.empty() || last == ".") return false;
    const std::string relative = local.empty() ? name : local + "/" + name;
    entry.FullPath = CollapseSeparators(base + "/" + relative);
    return true;
}

}  // namespace toval
