#include "catalog/catalog_reader.h"

#include <string>
#include <string_view>

#include "catalog/catalog_values.h"

namespace toval {

namespace {

std::string_view Chars(const xmlChar* text) {
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

// The element's name as written, prefix included, so that "x:File" is not "File".
std::string QualifiedName(const xmlNode* node) {
    std::string name;
    if (node->ns && node->ns->prefix) {
        name = Chars(node->ns->prefix);
        name += ':';
    }
    name += Chars(node->name);
    return name;
}

bool IsElementNamed(const xmlNode* node, std::string_view name) {
    if (node->type != XML_ELEMENT_NODE) return false;
    if (node->ns && node->ns->prefix) return QualifiedName(node) == name;
    return Chars(node->name) == name;
}

// Pre-order successor of `node` within the subtree of `top`, not entering entity references:
// their content is the entity's own, shared by every reference, and expanding it is exactly what
// an entity bomb relies on.
const xmlNode* NextInSubtree(const xmlNode* node, const xmlNode* top) {
    if (node->children && node->type != XML_ENTITY_REF_NODE) return node->children;
    while (node != top) {
        if (node->next) return node->next;
        node = node->parent;
    }
    return nullptr;
}

// The text content of an element: its text and CDATA descendants, in order.
std::string ElementText(const xmlNode* element) {
    std::string text;
    for (const xmlNode* n = element->children; n; n = NextInSubtree(n, element)) {
        if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
            text += Chars(n->content);
        }
    }
    return text;
}

std::unique_ptr<CFileEntry> ReadFileElement(const xmlNode* file, const BaseDirectories& dirs) {
    auto entry = std::make_unique<CFileEntry>();
    for (const xmlNode* child = file->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        const std::optional<CatalogField> field = MatchCatalogField(QualifiedName(child));
        if (field) StoreCatalogField(*entry, *field, ElementText(child));
    }
    if (!BuildFullPath(*entry, dirs)) return nullptr;
    return entry;
}

}  // namespace

bool ReadCatalogEntries(const XmlDocument& doc, const BaseDirectories& dirs,
                        std::list<std::unique_ptr<CFileEntry>>& out) {
    const xmlNode* root = doc.Root();
    if (!root) return false;
    for (const xmlNode* n = root->children; n; n = NextInSubtree(n, root)) {
        if (!IsElementNamed(n, "File")) continue;
        if (auto entry = ReadFileElement(n, dirs)) out.push_back(std::move(entry));
    }
    return true;
}

}  // namespace toval
