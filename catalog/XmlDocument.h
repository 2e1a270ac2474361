#pragma once
// A parsed XML document, read with settings safe for documents from an untrusted server: no
// network, no external entities or DTDs, no entity substitution, libxml2's default size limits.
// Parse errors are dropped instead of printed.

#include <libxml/tree.h>

#include <memory>
#include <string>
#include <string_view>

namespace toval {

class XmlDocument {
  public:
    XmlDocument() = default;

    // An empty document when the file cannot be opened, is not a regular file, or is not
    // well-formed XML in an encoding the parser knows.
    static XmlDocument ReadFile(const std::string& path);
    static XmlDocument ReadMemory(std::string_view bytes);

    explicit operator bool() const { return Doc != nullptr; }
    // The root element; null for an empty document.
    const xmlNode* Root() const;

  private:
    struct FreeDoc {
        void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
    };
    std::unique_ptr<xmlDoc, FreeDoc> Doc;
};

}  // namespace toval
