#include "catalog/CServerList.h"

#include <new>

namespace toval {

CServerList::~CServerList() { Clear(); }

bool CServerList::Add(const std::string& name, const std::string& url) {
    // Running out of memory is the one way to fail here; it is reported, not thrown.
    try {
        auto entry = std::make_unique<CServerEntry>();
        entry->Name = name;
        entry->Url = url;
        Entries.push_back(std::move(entry));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

CServerEntry* CServerList::First() { return Entries.empty() ? nullptr : Entries.front().get(); }

void CServerList::Clear() {
    while (!Entries.empty()) {
        // Unlinked before it is destroyed, so its destructor never sees itself in the list.
        std::unique_ptr<CServerEntry> front = std::move(Entries.front());
        Entries.pop_front();
    }
}

}  // namespace toval
