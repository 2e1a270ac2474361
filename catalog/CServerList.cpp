#include "catalog/CServerList.h"

namespace toval {

void CServerList::Add(const std::string& name, const std::string& url) {
    auto entry = std::make_unique<CServerEntry>();
    entry->Name = name;
    entry->Url = url;
    Entries.push_back(std::move(entry));
}

CServerEntry* CServerList::First() { return Entries.empty() ? nullptr : Entries.front().get(); }

void CServerList::Clear() { Entries.clear(); }

}  // namespace toval
