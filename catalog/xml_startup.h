#pragma once
// Process-wide set-up of the XML parser, done once before any catalogue is read.

namespace toval {

// Initialises libxml2, makes a document declared "GB2312" decode as code page 936 (GBK), as the
// catalogue's publishers write it, and refuses every external entity or DTD fetch. Safe to call
// more than once; false when the code page 936 converter is not available.
bool InitXmlParser();

}  // namespace toval
