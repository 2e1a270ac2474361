#include "catalog/catalog_reader.h"

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog_values.h"
#include "catalog/mirror_origin.h"
#include "catalog/xml_text.h"
#include "platform/reserved_names.h"
#include "platform/run_lock.h"
#include "platform/text.h"

namespace toval {

namespace {

std::string_view Chars(const xmlChar* text) {
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

// One File element still open. File elements may nest, so several can be open at once; each
// collects the text of the one child element it is inside.
struct OpenFile {
    int Depth = 0;
    std::list<std::unique_ptr<CFileEntry>>::iterator Slot;  // keeps document order of start tags
    const CatalogField* Field = nullptr;  // the child element it is inside, if any
    std::string Text;
    // A Patch child being read, and the child of it whose text is being gathered.
    bool InPatch = false;
    std::string_view PatchField;
    std::string PatchText;
    FilePatch Patch;
};

// Whether the publisher's copy may be run. Kept apart from the fields every catalogue lists
// and read as a flag: anything but "YES" leaves the file as it would be without the element.
// A value this updater does not know (from a later tool, or a typo) then costs the player at
// most an execute bit, where refusing the entry or the catalogue would stop every update.
constexpr CatalogField kExecutableField{"Executable", &CFileEntry::Executable};

const CatalogField* MatchFileChild(std::string_view name) {
    if (const CatalogField* field = MatchCatalogField(name)) return field;
    return EqualsIgnoringAsciiCase(name, kExecutableField.Name) ? &kExecutableField : nullptr;
}

// A file lists a patch from each of a few earlier versions; more is not a catalogue.
constexpr size_t kMaxPatchesPerFile = 16;
constexpr size_t kMaxPatchValueBytes = 4096;

bool IsSha256Hex(std::string_view text) {
    if (text.size() != 64) return false;
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// A whole decimal number above zero; nothing for anything else.
std::optional<uint64_t> PatchLength(std::string_view text) {
    const std::optional<uint64_t> value = ParseUnsignedDecimal(text);
    if (!value || *value == 0) return {};
    return value;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// True when `fullPath` names the state directory beside the program or anything in it. What
// the updater keeps there (serial floors, the run lock, the kept catalogue) must never come
// from a catalogue: a catalogue that could write it could lower the floors it is checked
// against, or free the lock of a running updater.
bool InStateDirectory(std::string_view fullPath, std::string_view programDir) {
    const std::string state = StateDirectory(std::string(programDir));
    const std::string_view name = std::string_view(state).substr(state.find_last_of("/\\") + 1);
    while (!programDir.empty() && IsSeparator(programDir.back())) programDir.remove_suffix(1);
    if (fullPath.size() <= programDir.size() ||
        !StartsWithIgnoringAsciiCase(fullPath, programDir) ||
        !IsSeparator(fullPath[programDir.size()]))
        return false;
    std::string_view rest = fullPath.substr(programDir.size());
    while (!rest.empty()) {
        while (!rest.empty() && IsSeparator(rest.front())) rest.remove_prefix(1);
        size_t end = 0;
        while (end < rest.size() && !IsSeparator(rest[end])) ++end;
        const std::string_view part = AsWindowsReadsIt(rest.substr(0, end));
        rest.remove_prefix(end);
        // "." (and what Windows reads as it) stays in the same directory.
        if (part.empty()) continue;
        return EqualsIgnoringAsciiCase(part, name);
    }
    return false;
}

class CatalogStream {
  public:
    CatalogStream(const BaseDirectories& dirs, std::list<std::unique_ptr<CFileEntry>>& out,
                  std::size_t maxEntries)
        : Dirs(dirs), Out(out), MaxEntries(maxEntries) {}

    // False when the document holds more File elements than a catalogue may.
    bool StartElement(std::string_view name, int depth, bool empty) {
        // Mirrors are children of the Product element below the root; only their own text counts.
        if (depth == 1) InProduct = name == "Product" && !empty;
        InMirror = InProduct && depth == 2 && name == "Mirror" && !empty;
        MirrorText.clear();
        if (!Open.empty() && depth == Open.back().Depth + 1) {
            if (const CatalogField* field = MatchFileChild(name)) {
                Open.back().Field = field;
                Open.back().Text.clear();
                if (empty) EndField(Open.back());
            }
            if (name == "Patch" && !empty) {
                Open.back().InPatch = true;
                Open.back().Patch = {};
            }
        }
        if (!Open.empty() && Open.back().InPatch && depth == Open.back().Depth + 2) {
            OpenFile& file = Open.back();
            file.PatchField = name == "From" || name == "URL" || name == "Length" ? name : "";
            file.PatchText.clear();
            if (empty) EndPatchField(file);
        }
        // The name as written, prefix included, so "x:File" is not "File"; the root never is.
        if (depth >= 1 && name == "File") {
            if (++Files > MaxEntries) return false;
            OpenFile file;
            file.Depth = depth;
            file.Slot = Out.insert(Out.end(), std::make_unique<CFileEntry>());
            Open.push_back(std::move(file));
            if (empty) EndFile();
        }
        return true;
    }

    void EndElement(int depth) {
        if (depth == 1) InProduct = false;
        if (depth == 2 && InMirror) {
            InMirror = false;
            if (Mirrors.size() < kMaxMirrors && IsMirrorOrigin(MirrorText))
                Mirrors.push_back(MirrorText);
        }
        if (Open.empty()) return;
        OpenFile& file = Open.back();
        if (depth == file.Depth) {
            EndFile();
        } else if (depth == file.Depth + 1 && file.Field) {
            EndField(file);
        } else if (depth == file.Depth + 1 && file.InPatch) {
            EndPatch(file);
        } else if (depth == file.Depth + 2 && file.InPatch) {
            EndPatchField(file);
        }
    }

    // Text belongs to every open child element it stands in: an element's text is that of all
    // its descendants. False when gathering it would pass the budget below.
    bool Text(std::string_view text) {
        std::size_t fields = 0;
        for (const OpenFile& file : Open)
            fields += (file.Field ? 1 : 0) + (file.PatchField.empty() ? 0 : 1);
        Seen += text.size();
        Gathered += fields * text.size();
        // Without nested File elements a text lands in one value at most. Nested ones make it
        // land in every enclosing value as well: some 120 levels fit under the parser's depth
        // limit, so a small document could claim gigabytes. Past twice the document's own text
        // that is no catalogue, and it is refused before anything is copied.
        if (Gathered > 2 * Seen + kGatherSlack) return false;
        if (InMirror && MirrorText.size() < 512) MirrorText += text;
        for (OpenFile& file : Open) {
            if (file.Field) file.Text += text;
            if (!file.PatchField.empty() && file.PatchText.size() < kMaxPatchValueBytes)
                file.PatchText += text;
        }
        return true;
    }

  private:
    void EndField(OpenFile& file) {
        file.Field->Store(**file.Slot, file.Text);
        file.Field = nullptr;
    }

    void EndPatchField(OpenFile& file) {
        if (file.PatchField == "From") file.Patch.FromSha256 = file.PatchText;
        if (file.PatchField == "URL") file.Patch.URL = file.PatchText;
        if (file.PatchField == "Length")
            file.Patch.Length = PatchLength(file.PatchText).value_or(0);
        file.PatchField = {};
    }

    // A patch is kept only whole: the hash it starts from, where it is, and its length.
    void EndPatch(OpenFile& file) {
        file.InPatch = false;
        file.PatchField = {};
        std::vector<FilePatch>& patches = (**file.Slot).Patches;
        const FilePatch& p = file.Patch;
        if (IsSha256Hex(p.FromSha256) && !p.URL.empty() && IsXmlText(p.URL) && p.Length != 0 &&
            patches.size() < kMaxPatchesPerFile)
            patches.push_back(p);
    }

    void EndFile() {
        const auto slot = Open.back().Slot;
        Open.pop_back();
        // A file named like one of the updater's own temporaries would be written by a download
        // of another listed file, or be taken for one: the two must never share a path.
        if (!BuildFullPath(**slot, Dirs) || IsUpdaterTemporaryName((**slot).FullPath) ||
            InStateDirectory((**slot).FullPath, Dirs.ProgramDir))
            Out.erase(slot);
    }

    static constexpr uint64_t kGatherSlack = 1 << 20;

    const BaseDirectories& Dirs;
    std::list<std::unique_ptr<CFileEntry>>& Out;
    const std::size_t MaxEntries;
    std::size_t Files = 0;  // File elements met, dropped ones included
    std::vector<OpenFile> Open;
    uint64_t Seen = 0;      // text the document holds
    uint64_t Gathered = 0;  // text copied into values
    bool InProduct = false;
    bool InMirror = false;  // directly inside a Mirror of the Product
    std::string MirrorText;

  public:
    std::vector<std::string> Mirrors;  // valid ones, in document order
};

}  // namespace

bool ReadCatalogEntries(XmlReader& reader, const BaseDirectories& dirs,
                        std::list<std::unique_ptr<CFileEntry>>& out, std::size_t maxEntries,
                        std::vector<std::string>* mirrors) {
    // Read into a list of its own: an error near the end must not leave half a catalogue.
    std::list<std::unique_ptr<CFileEntry>> read;
    CatalogStream stream(dirs, read, maxEntries);
    xmlTextReaderPtr r = reader.Get();
    int status;
    while ((status = reader.Read()) == 1) {
        switch (xmlTextReaderNodeType(r)) {
            case XML_READER_TYPE_ELEMENT:
                if (!stream.StartElement(Chars(xmlTextReaderConstName(r)), xmlTextReaderDepth(r),
                                         xmlTextReaderIsEmptyElement(r) == 1))
                    return false;
                break;
            case XML_READER_TYPE_END_ELEMENT:
                stream.EndElement(xmlTextReaderDepth(r));
                break;
            case XML_READER_TYPE_TEXT:
            case XML_READER_TYPE_CDATA:
            case XML_READER_TYPE_WHITESPACE:
            case XML_READER_TYPE_SIGNIFICANT_WHITESPACE: {
                // The streaming parser lets some malformed UTF-8 through in CDATA sections
                // (overlong forms); such a document is not well-formed, whatever it says.
                const std::string_view text = Chars(xmlTextReaderConstValue(r));
                if (!IsXmlText(text) || !stream.Text(text)) return false;
                break;
            }
            default:
                break;  // comments, processing instructions, entity references, the DTD
        }
    }
    if (status != 0) return false;
    out.splice(out.end(), read);
    if (mirrors) *mirrors = std::move(stream.Mirrors);
    return true;
}

}  // namespace toval
