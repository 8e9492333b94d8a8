// The element tree shared by the engine and query XML document components.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelk::text {

// The readers refuse deeper nesting as malformed: reading, writing and comparing recurse once per
// level, and a hostile document must not exhaust the stack.
inline constexpr int kMaxXmlDepth = 256;

struct XmlAttribute {
  std::string name;
  std::string value;
};

// One element: its name, an optional text, attributes and children in document order. 8-bit
// text throughout (UTF-8 here). A parent owns its children; the caller owns the root, and
// destroying the root frees the whole tree.
struct XmlElement {
  XmlElement() = default;
  explicit XmlElement(std::string element_name) : name(std::move(element_name)) {}
  XmlElement(const XmlElement&) = delete;
  XmlElement& operator=(const XmlElement&) = delete;
  // Frees the subtree without recursion, so that a very deep tree cannot exhaust the stack.
  ~XmlElement();

  std::string name;
  std::optional<std::string> text;
  std::vector<XmlAttribute> attributes;
  std::vector<std::unique_ptr<XmlElement>> children;

  // The attribute of that name, or null.
  const XmlAttribute* FindAttribute(std::string_view attribute_name) const;
  // The first child of that name, or null.
  XmlElement* FirstChild(std::string_view child_name) const;
};

}  // namespace pelk::text
