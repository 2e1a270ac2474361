#include "catalog/xml_startup.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <mutex>

#include "catalog/code_page_936.h"

namespace toval {

namespace {

// Catalogues are read from our own file handle or from memory, never through the loader, so
// every load that reaches it is an external entity or DTD named by the document: none is ever
// fetched.
xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
    return nullptr;
}

}  // namespace

bool InitXmlParser() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(RefuseExternalEntity);
        // Strict GB2312 lacks characters that publishers' tools write under that name (镕, 眾,
        // 臺); code page 936 is what the name means in practice.
        ready = RegisterCodePage936WithXml();
    });
    return ready;
}

}  // namespace toval
