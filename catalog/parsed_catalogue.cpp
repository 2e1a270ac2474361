#include "catalog/parsed_catalogue.h"

#include <cstring>
#include <string_view>

#include "platform/mapped_file.h"
#include "platform/replace_file.h"

namespace toval {

namespace {

// A new layout takes a new magic: an older updater's file is then simply not used.
constexpr std::string_view kMagic = "TVPARSE2";
constexpr std::size_t kHeader = kMagic.size() + 2 * sizeof(Sha256Digest);

std::string PathIn(const std::string& stateDir) { return stateDir + "/catalogue.parsed"; }

class Writer {
  public:
    void operator()(const std::string& s) {
        (*this)(static_cast<uint32_t>(s.size()));
        Out.append(s);
    }
    void operator()(uint64_t v) { Raw(v); }
    void operator()(uint32_t v) { Raw(v); }
    void operator()(bool v) { Out.push_back(v ? '\1' : '\0'); }

    std::string Out;

  private:
    template <class T>
    void Raw(T v) {
        char bytes[sizeof v];
        std::memcpy(bytes, &v, sizeof v);
        Out.append(bytes, sizeof v);
    }
};

// Every read is bounds-checked: once anything is out of place, Ok stays false and the values
// read are meaningless.
class Reader {
  public:
    explicit Reader(std::string_view in) : In(in) {}

    void operator()(std::string& s) {
        uint32_t size = 0;
        (*this)(size);
        if (!Take(size)) return;
        s.assign(In.data() - size, size);
    }
    void operator()(uint64_t& v) { Raw(v); }
    void operator()(uint32_t& v) { Raw(v); }
    void operator()(bool& v) {
        if (!Take(1)) return;
        v = In[-1] != '\0';
    }

    bool Ok = true;
    std::string_view In;

  private:
    bool Take(std::size_t n) {
        if (!Ok || n > In.size()) return Ok = false;
        In.remove_prefix(n);
        return true;
    }
    template <class T>
    void Raw(T& v) {
        if (Take(sizeof v)) std::memcpy(&v, In.data() - sizeof v, sizeof v);
    }
};

// The one list of what a record holds, for writing and reading alike. The version resource is
// never in a catalogue, so it is not kept.
template <class Entry, class Visit>
void Fields(Entry& e, Visit& v) {
    v(e.Length);
    v(e.FileName);
    v(e.FileVersion);
    v(e.ProductVersion);
    v(e.Register);
    v(e.InstallDir);
    v(e.ZipFile);
    v(e.ForceOverwrite);
    v(e.Execute);
    v(e.ExecutePar);
    v(e.LocalPath);
    v(e.FileDate.dwLowDateTime);
    v(e.FileDate.dwHighDateTime);
    v(e.FullPath);
    v(e.URL);
    v(e.UserName);
    v(e.Password);
    v(e.Sha256);
    v(e.Executable);
    v(e.NeedsUpdate);
}

template <class Patch, class Visit>
void PatchFields(Patch& p, Visit& v) {
    v(p.FromSha256);
    v(p.URL);
    v(p.Length);
}

Sha256Digest HashOf(std::string_view bytes) { return Sha256Of(bytes).value_or(Sha256Digest{}); }

std::string_view View(const Sha256Digest& d) {
    return {reinterpret_cast<const char*>(d.data()), d.size()};
}

}  // namespace

std::optional<ParsedCatalogue> LoadParsedCatalogue(const std::string& stateDir,
                                                   const Sha256Digest& catalogue,
                                                   const BaseDirectories& dirs) {
    const MappedFile file(PathIn(stateDir));
    if (!file.Ok()) return std::nullopt;
    const std::string_view bytes = file.Bytes();
    if (bytes.size() < kHeader || bytes.substr(0, kMagic.size()) != kMagic ||
        bytes.substr(kMagic.size(), catalogue.size()) != View(catalogue))
        return std::nullopt;
    const std::string_view body = bytes.substr(kHeader);
    if (bytes.substr(kMagic.size() + catalogue.size(), catalogue.size()) != View(HashOf(body)))
        return std::nullopt;
    // The records are built while the file is read a second time, and the pages read are let go
    // as they are left behind: what the check holds at its peak is the records, not the file too.
    file.Forget(0, bytes.size());
    constexpr std::size_t kForgetStep = 1 << 20;
    std::size_t forgotten = 0;

    Reader read(body);
    std::string program, windows, system;
    read(program);
    read(windows);
    read(system);
    if (!read.Ok || program != dirs.ProgramDir || windows != dirs.WindowsDir ||
        system != dirs.SystemDir)
        return std::nullopt;
    ParsedCatalogue out;
    read(out.EveryEntryHashed);
    uint32_t count = 0;
    read(count);
    // Each string takes at least its length's four bytes: a count past what the rest could hold
    // is damage, not a reason to reserve.
    for (uint32_t i = 0; read.Ok && i < count && i < read.In.size() / 4; ++i)
        read(out.Mirrors.emplace_back());
    if (out.Mirrors.size() != count) return std::nullopt;
    read(count);
    for (uint32_t i = 0; read.Ok && i < count; ++i) {
        auto entry = std::make_unique<CFileEntry>();
        Fields(*entry, read);
        uint32_t patches = 0;
        read(patches);
        for (uint32_t p = 0; read.Ok && p < patches && p < read.In.size() / 4; ++p)
            PatchFields(entry->Patches.emplace_back(), read);
        out.Entries.push_back(std::move(entry));
        const std::size_t at = bytes.size() - read.In.size();
        if (at - forgotten >= kForgetStep) {
            file.Forget(forgotten, at - forgotten);
            forgotten = at;
        }
    }
    if (!read.Ok || !read.In.empty() || out.Entries.size() != count) return std::nullopt;
    return out;
}

bool KeepParsedCatalogue(const std::string& stateDir, const Sha256Digest& catalogue,
                         const BaseDirectories& dirs,
                         const std::list<std::unique_ptr<CFileEntry>>& entries,
                         const std::vector<std::string>& mirrors, bool everyEntryHashed) {
    Writer write;
    write.Out.assign(kHeader, '\0');
    write(dirs.ProgramDir);
    write(dirs.WindowsDir);
    write(dirs.SystemDir);
    write(everyEntryHashed);
    write(static_cast<uint32_t>(mirrors.size()));
    for (const std::string& m : mirrors) write(m);
    write(static_cast<uint32_t>(entries.size()));
    for (const auto& entry : entries) {
        Fields(*entry, write);
        write(static_cast<uint32_t>(entry->Patches.size()));
        for (const FilePatch& p : entry->Patches) PatchFields(p, write);
    }
    const Sha256Digest body = HashOf(std::string_view(write.Out).substr(kHeader));
    write.Out.replace(0, kMagic.size(), kMagic);
    write.Out.replace(kMagic.size(), catalogue.size(), View(catalogue));
    write.Out.replace(kMagic.size() + catalogue.size(), body.size(), View(body));
    // A cache: a crash may lose it or leave it torn, which its own hash then shows.
    return ReplaceFileWith(PathIn(stateDir), write.Out, Durability::Unsynced);
}

}  // namespace toval
