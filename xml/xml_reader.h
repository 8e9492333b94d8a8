// The reader shared by the engine and query XML document components. The two accept slightly
// different syntax; an XmlDialect selects which. Each component maps the result to its own codes.
#pragma once

#include <memory>
#include <string_view>

#include "xml/xml_element.h"

namespace pelk::text {

struct XmlDialect {
  bool skip_byte_order_mark;  // a UTF-8 byte-order mark may precede the document
  bool query_names;           // names are letters, digits and "_" only, and may start with a digit
  bool single_quotes;         // attribute values may also be written in apostrophes
  bool single_text_run;       // an element holding a second text run is malformed
};

enum class XmlReadStatus { kOk, kOutOfMemory, kSyntax, kUnexpectedEnd, kBadCharacter };

// Parses one document from `text` (the whole view; callers stop it at a NUL). On success
// *root receives the tree; on failure *root is left empty and the partial tree is freed.
XmlReadStatus ReadXml(std::string_view text, const XmlDialect& dialect,
                      std::unique_ptr<XmlElement>* root) noexcept;

// True when `name` is a whole, non-empty name under the dialect's name rules.
bool IsXmlName(std::string_view name, bool query_names);

}  // namespace pelk::text
