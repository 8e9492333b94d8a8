// The writer shared by the engine and query XML document components; they differ only in which
// characters they escape.
#pragma once

#include <string>

#include "xml/xml_element.h"

namespace pelk::text {

struct XmlWriteOptions {
  bool declaration;  // "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>" and a line feed first
  bool indent;       // two spaces per nesting level before each start tag
  bool line_feeds;   // a line feed after every element, and after a start tag with children
};

enum class XmlEscaping {
  kEngine,  // values escape " ' & <, texts escape & < only
  kQuery,   // values and texts escape all five: " ' & < >
};

// Appends the document to *out. Throws std::bad_alloc when memory runs out; the components
// catch it and report their own code.
void WriteXml(const XmlElement& root, const XmlWriteOptions& options, XmlEscaping escaping,
              std::string* out);

}  // namespace pelk::text
