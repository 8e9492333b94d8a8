#include "xml/xml_element.h"

namespace pelk::text {

XmlElement::~XmlElement() {
  std::vector<std::unique_ptr<XmlElement>> pending = std::move(children);
  while (!pending.empty()) {
    std::unique_ptr<XmlElement> element = std::move(pending.back());
    pending.pop_back();
    if (element == nullptr) continue;
    try {
      for (auto& child : element->children) {
        if (child) pending.push_back(std::move(child));
      }
      element->children.clear();
    } catch (...) {
      // Out of memory: the children not moved yet are freed recursively with `element`.
    }
  }  // `element` goes here, normally with no children left, so its destructor does not descend.
}

const XmlAttribute* XmlElement::FindAttribute(std::string_view attribute_name) const {
  for (const XmlAttribute& attribute : attributes) {
    if (attribute.name == attribute_name) return &attribute;
  }
  return nullptr;
}

XmlElement* XmlElement::FirstChild(std::string_view child_name) const {
  for (const auto& child : children) {
    if (child->name == child_name) return child.get();
  }
  return nullptr;
}

}  // namespace pelk::text
