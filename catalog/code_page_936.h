#pragma once
// Code page 936 (GBK) for the XML parser: the encoding catalogues declare as "GB2312". Linux
// converts through iconv, Windows through its own code page tables.

namespace toval {

// Makes libxml2 decode a document declared "GB2312" as code page 936, and knows the code page by
// its other names too. Call once, after xmlInitParser; false when the system has no converter.
bool RegisterCodePage936WithXml();

}  // namespace toval
