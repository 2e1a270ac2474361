#pragma once
// A streaming XML reader (libxml2's xmlTextReader) with settings safe for documents from an
// untrusted server: no network, no external entities or DTDs, entity references left unexpanded,
// libxml2's default limits on depth and text size. Nodes are freed as the reader passes them,
// so memory stays flat however long the document is. Parse errors are dropped, not printed.

#include <libxml/xmlreader.h>

#include <string>
#include <string_view>

#include "platform/file_handle.h"

namespace toval {

class XmlReader {
  public:
    XmlReader();
    ~XmlReader();
    XmlReader(const XmlReader&) = delete;
    XmlReader& operator=(const XmlReader&) = delete;

    // False when the file cannot be opened or is not a regular file (a FIFO would never end).
    bool OpenFile(const std::string& path);
    // `bytes` must outlive the reading.
    bool OpenMemory(std::string_view bytes);

    // Advances to the next node: 1, 0 at the end of a well-formed document, -1 on any error
    // (not well-formed, unknown encoding, bytes that do not decode, a limit reached). Errors
    // are counted as they are reported, because xmlTextReaderRead can end some broken documents
    // as if they had ended normally.
    int Read();
    xmlTextReaderPtr Get() const { return Reader; }

  private:
    static void RecordError(void* self, xmlErrorPtr error);
    static int ReadFromFile(void* self, char* buffer, int size);
    void Close();

    xmlTextReaderPtr Reader = nullptr;
    FileHandle File;
    bool ErrorSeen = false;
    // The thread's libxml2 error handlers in force before this reader replaced them.
    xmlStructuredErrorFunc SavedStructured;
    void* SavedStructuredContext;
    xmlGenericErrorFunc SavedGeneric;
    void* SavedGenericContext;
};

}  // namespace toval
