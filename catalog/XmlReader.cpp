#include "catalog/XmlReader.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace toval {

namespace {

// Entity references stay references (no XML_PARSE_NOENT), nothing is fetched (NONET, and no
// DTDLOAD/DTDATTR/DTDVALID), and libxml2's limits stay on (no XML_PARSE_HUGE).
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_COMPACT;

void DropGenericError(void*, const char*, ...) {}

}  // namespace

void XmlReader::RecordError(void* self, xmlErrorPtr error) {
    if (error && error->level >= XML_ERR_ERROR) static_cast<XmlReader*>(self)->ErrorSeen = true;
}

// Errors raised without a parser context (encoding conversion, I/O) go to the thread's handlers;
// they are taken over while this reader lives, never printed, and given back afterwards.
XmlReader::XmlReader()
    : SavedStructured(xmlStructuredError),
      SavedStructuredContext(xmlStructuredErrorContext),
      SavedGeneric(xmlGenericError),
      SavedGenericContext(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(this, RecordError);
    xmlSetGenericErrorFunc(nullptr, DropGenericError);
}

XmlReader::~XmlReader() {
    Close();
    xmlSetStructuredErrorFunc(SavedStructuredContext, SavedStructured);
    xmlSetGenericErrorFunc(SavedGenericContext, SavedGeneric);
}

void XmlReader::Close() {
    if (Reader) xmlFreeTextReader(Reader);
    Reader = nullptr;
    if (Fd >= 0) close(Fd);
    Fd = -1;
    ErrorSeen = false;
}

bool XmlReader::OpenFile(const std::string& path) {
    Close();
    Fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (Fd < 0 || fstat(Fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        Close();
        return false;
    }
    Reader = xmlReaderForFd(Fd, nullptr, nullptr, kParseOptions);
    if (Reader) xmlTextReaderSetStructuredErrorHandler(Reader, RecordError, this);
    return Reader != nullptr;
}

bool XmlReader::OpenMemory(std::string_view bytes) {
    Close();
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return false;
    Reader = xmlReaderForMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                kParseOptions);
    if (Reader) xmlTextReaderSetStructuredErrorHandler(Reader, RecordError, this);
    return Reader != nullptr;
}

int XmlReader::Read() {
    if (!Reader || ErrorSeen) return -1;
    const int status = xmlTextReaderRead(Reader);
    return ErrorSeen ? -1 : status;
}

}  // namespace toval
