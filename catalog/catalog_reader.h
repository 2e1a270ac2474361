#pragma once
// Turns a parsed catalogue document into file records.

#include <list>
#include <memory>

#include "catalog/CFileEntry.h"
#include "catalog/XmlDocument.h"
#include "catalog/install_path.h"

namespace toval {

// Appends one record per element named exactly "File" below the root, in document order, with
// its full path resolved against `dirs`. A record whose path would leave its base directory is
// dropped. Entity references other than the predefined ones and character references contribute
// no text: a catalogue has no use for them, and expanding them is what entity bombs rely on.
// False (nothing appended) when the document has no root element.
bool ReadCatalogEntries(const XmlDocument& doc, const BaseDirectories& dirs,
                        std::list<std::unique_ptr<CFileEntry>>& out);

}  // namespace toval
