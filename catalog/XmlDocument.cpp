#include "catalog/XmlDocument.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace toval {

namespace {

// Entity references stay references (no XML_PARSE_NOENT), nothing is fetched (NONET, and no
// DTDLOAD/DTDATTR), and libxml2's limits on depth and text size stay on (no XML_PARSE_HUGE).
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_COMPACT;

void DropError(void*, xmlErrorPtr) {}
void DropGenericError(void*, const char*, ...) {}

// Errors raised without a parser context (encoding conversion, I/O) go to the thread's handlers;
// silence those for the duration of one parse and put the caller's back afterwards.
class QuietErrors {
  public:
    QuietErrors()
        : Structured(xmlStructuredError),
          StructuredContext(xmlStructuredErrorContext),
          Generic(xmlGenericError),
          GenericContext(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(nullptr, DropError);
        xmlSetGenericErrorFunc(nullptr, DropGenericError);
    }
    ~QuietErrors() {
        xmlSetStructuredErrorFunc(StructuredContext, Structured);
        xmlSetGenericErrorFunc(GenericContext, Generic);
    }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

  private:
    xmlStructuredErrorFunc Structured;
    void* StructuredContext;
    xmlGenericErrorFunc Generic;
    void* GenericContext;
};

struct FreeContext {
    void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};
using ContextPtr = std::unique_ptr<xmlParserCtxt, FreeContext>;

ContextPtr NewQuietContext() {
    ContextPtr ctxt(xmlNewParserCtxt());
    if (ctxt && ctxt->sax) ctxt->sax->serror = DropError;
    return ctxt;
}

struct Descriptor {
    int Fd;
    ~Descriptor() {
        if (Fd >= 0) close(Fd);
    }
};

}  // namespace

XmlDocument XmlDocument::ReadFile(const std::string& path) {
    XmlDocument result;
    Descriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    struct stat info {};
    // A FIFO or a device would block or never end; only a regular file is a catalogue.
    if (file.Fd < 0 || fstat(file.Fd, &info) != 0 || !S_ISREG(info.st_mode)) return result;
    QuietErrors quiet;
    ContextPtr ctxt = NewQuietContext();
    if (!ctxt) return result;
    result.Doc.reset(xmlCtxtReadFd(ctxt.get(), file.Fd, nullptr, nullptr, kParseOptions));
    return result;
}

XmlDocument XmlDocument::ReadMemory(std::string_view bytes) {
    XmlDocument result;
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return result;
    QuietErrors quiet;
    ContextPtr ctxt = NewQuietContext();
    if (!ctxt) return result;
    result.Doc.reset(xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()),
                                       nullptr, nullptr, kParseOptions));
    return result;
}

const xmlNode* XmlDocument::Root() const { return Doc ? xmlDocGetRootElement(Doc.get()) : nullptr; }

}  // namespace toval
