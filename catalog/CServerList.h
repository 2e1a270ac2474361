#pragma once
// The update servers the catalogue can be fetched from. Like the catalogue, it belongs to the run
// and is used on the run's thread only.

#include <list>
#include <memory>
#include <string>

namespace toval {

class CServerEntry {
  public:
    std::string Name;
    std::string Url;
};

class CServerList {
  public:
    void Add(const std::string& name, const std::string& url);
    // Borrowed; stays in the list. Null when empty.
    CServerEntry* First();
    void Clear();

  private:
    std::list<std::unique_ptr<CServerEntry>> Entries;
};

}  // namespace toval
