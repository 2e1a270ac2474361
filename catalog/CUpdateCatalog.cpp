#include "catalog/CUpdateCatalog.h"

#include <limits>

#include "catalog/XmlReader.h"
#include "catalog/catalog_reader.h"

namespace toval {

CUpdateCatalog::CUpdateCatalog() : CUpdateCatalog(BaseDirectories::FromSystem()) {}

CUpdateCatalog::CUpdateCatalog(BaseDirectories dirs) : Dirs(std::move(dirs)) {}

CUpdateCatalog::~CUpdateCatalog() { Clear(); }

void CUpdateCatalog::Clear() {
    MirrorOrigins.clear();
    while (!Entries.empty()) {
        // Unlinked before it is destroyed, so its destructor never sees itself in the list.
        std::unique_ptr<CFileEntry> front = std::move(Entries.front());
        Entries.pop_front();
    }
}

bool CUpdateCatalog::Load(const std::string& path) {
    Clear();
    XmlReader reader;
    return reader.OpenFile(path) &&
           ReadCatalogEntries(reader, Dirs, Entries, kMaxCatalogEntries, &MirrorOrigins);
}

bool CUpdateCatalog::LoadBytes(std::string_view bytes) {
    Clear();
    XmlReader reader;
    return reader.OpenMemory(bytes) &&
           ReadCatalogEntries(reader, Dirs, Entries, kMaxCatalogEntries, &MirrorOrigins);
}

uint32_t CUpdateCatalog::RetainOutdated() {
    uint32_t kept = 0;
    for (auto it = Entries.begin(); it != Entries.end();) {
        if ((*it)->CheckNeedsUpdate()) {
            ++kept;
            ++it;
            continue;
        }
        std::unique_ptr<CFileEntry> current = std::move(*it);
        it = Entries.erase(it);
    }
    return kept;
}

uint64_t CUpdateCatalog::OutdatedLength() {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    uint64_t total = 0;
    for (const auto& entry : Entries) {
        if (!entry->NeedsUpdate) continue;
        // A catalogue can claim absurd lengths; the total stops at the top instead of wrapping
        // to a small figure.
        total = entry->Length > kMax - total ? kMax : total + entry->Length;
    }
    return total;
}

std::unique_ptr<CFileEntry> CUpdateCatalog::TakeFirst() {
    if (Entries.empty()) return nullptr;
    std::unique_ptr<CFileEntry> front = std::move(Entries.front());
    Entries.pop_front();
    return front;
}

bool CUpdateCatalog::AllEntries(const std::function<bool(const CFileEntry&)>& test) const {
    for (const auto& entry : Entries)
        if (!test(*entry)) return false;
    return true;
}

uint32_t CUpdateCatalog::Count() { return static_cast<uint32_t>(Entries.size()); }

}  // namespace toval
