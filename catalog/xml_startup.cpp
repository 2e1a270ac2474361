#include "catalog/xml_startup.h"

#include <iconv.h>
#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <mutex>

namespace toval {

namespace {

// Catalogues are read from a descriptor or from memory, never through the loader, so every load
// that reaches it is an external entity or DTD named by the document: none is ever fetched.
xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) {
    return nullptr;
}

bool HaveCodePage936() {
    iconv_t cd = iconv_open("UTF-8", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
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
        ready = HaveCodePage936() && xmlAddEncodingAlias("CP936", "GB2312") == 0;
    });
    return ready;
}

}  // namespace toval
