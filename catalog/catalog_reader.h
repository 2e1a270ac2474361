#pragma once
// Turns a catalogue document into file records as it streams past.

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "catalog/CFileEntry.h"
#include "catalog/XmlReader.h"
#include "catalog/install_path.h"

namespace toval {

// Appends one record per element named exactly "File" below the root, in document order, with
// its full path resolved against `dirs`. A record whose path would leave its base directory,
// whose file name ends like one of the updater's temporaries (IsUpdaterTemporaryName), or that
// lies in the updater's state directory beside the program (letter case and Windows' trailing
// dots and blanks aside), is dropped. Entity references other than the predefined ones
// contribute no text: a catalogue has no use for them, and expanding them is what entity bombs
// rely on. False, with nothing
// appended, when the document is not a well-formed XML document in an encoding the parser knows,
// or when File elements nested in one another's values would copy its text many times over.
// Also false when it holds more than `maxEntries` File elements: a record takes some hundred
// bytes however short its element, so a document of nothing but "<File/>" would otherwise turn
// tens of megabytes into gigabytes.
// With `mirrors`, the valid origins of the Mirror children of the Product element are put there
// (IsMirrorOrigin; others are skipped, as an old reader skips them all).
constexpr std::size_t kMaxCatalogEntries = 500000;
bool ReadCatalogEntries(XmlReader& reader, const BaseDirectories& dirs,
                        std::list<std::unique_ptr<CFileEntry>>& out,
                        std::size_t maxEntries = kMaxCatalogEntries,
                        std::vector<std::string>* mirrors = nullptr);

}  // namespace toval
