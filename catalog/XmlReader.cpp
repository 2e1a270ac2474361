#include "catalog/XmlReader.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

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
    File.Close();
    ErrorSeen = false;
}

int XmlReader::ReadFromFile(void* self, char* buffer, int size) {
    if (size <= 0) return 0;
    return static_cast<int>(
        static_cast<XmlReader*>(self)->File.Read(buffer, static_cast<std::size_t>(size)));
}

bool XmlReader::OpenFile(const std::string& path) {
    Close();
    // Read through our own handle, which takes a UTF-8 path on every system and refuses anything
    // but a regular file; Close closes it after the reader is gone.
    File = FileHandle::Open(path, OpenFor::Read);
    if (!File.IsOpen()) return false;
    Reader = xmlReaderForIO(ReadFromFile, nullptr, this, nullptr, nullptr, kParseOptions);
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
