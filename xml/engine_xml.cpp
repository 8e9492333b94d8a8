#include "xml/engine_xml.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "xml/xml_reader.h"
#include "xml/xml_writer.h"

namespace pelk::text::engine_xml {
namespace {

constexpr XmlDialect kEngineDialect = {.skip_byte_order_mark = true,
                                       .query_names = false,
                                       .single_quotes = true,
                                       .single_text_run = false};

bool ValidName(std::string_view name) { return IsXmlName(name, /*query_names=*/false); }

// Runs a builder step, turning an allocation failure into kOutOfMemory.
template <typename Step>
int32_t Guarded(Step step) noexcept {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::length_error&) {
    return kOutOfMemory;
  }
}

}  // namespace

int32_t Parse(const char* text, size_t length, std::unique_ptr<XmlElement>* root) {
  if (root == nullptr) return kBadArgument;
  root->reset();
  if (text == nullptr) return kBadArgument;
  if (const void* nul = std::memchr(text, '\0', length)) {
    length = static_cast<size_t>(static_cast<const char*>(nul) - text);
  }
  switch (ReadXml(std::string_view(text, length), kEngineDialect, root)) {
    case XmlReadStatus::kOk:
      return kOk;
    case XmlReadStatus::kOutOfMemory:
      return kOutOfMemory;
    case XmlReadStatus::kSyntax:
      return kSyntaxError;
    case XmlReadStatus::kUnexpectedEnd:
      return kUnexpectedEnd;
    case XmlReadStatus::kBadCharacter:
      return kBadCharacter;
  }
  return kSyntaxError;
}

int32_t Parse(const char* text, std::unique_ptr<XmlElement>* root) {
  return Parse(text, text == nullptr ? 0 : std::strlen(text), root);
}

int32_t NewElement(int32_t status, std::string_view name, std::optional<std::string_view> text,
                   std::unique_ptr<XmlElement>* element) {
  if (status != kOk) return status;
  if (element == nullptr || !ValidName(name)) return kBadArgument;
  return Guarded([&] {
    auto made = std::make_unique<XmlElement>(std::string(name));
    if (text) made->text.emplace(*text);
    *element = std::move(made);
    return kOk;
  });
}

int32_t AppendChild(int32_t status, XmlElement* parent, std::unique_ptr<XmlElement> child) {
  if (status != kOk) return status;
  if (parent == nullptr || child == nullptr) return kBadArgument;
  return Guarded([&] {
    parent->children.push_back(std::move(child));
    return kOk;
  });
}

int32_t SetText(int32_t status, XmlElement* element, std::string_view text) {
  if (status != kOk) return status;
  if (element == nullptr) return kBadArgument;
  return Guarded([&] {
    element->text.emplace(text);
    return kOk;
  });
}

int32_t SetAttribute(int32_t status, XmlElement* element, std::string_view name,
                     std::string_view value) {
  if (status != kOk) return status;
  if (element == nullptr || !ValidName(name)) return kBadArgument;
  return Guarded([&] {
    for (XmlAttribute& attribute : element->attributes) {
      if (attribute.name == name) {
        attribute.value.assign(value);
        return kOk;
      }
    }
    element->attributes.push_back({std::string(name), std::string(value)});
    return kOk;
  });
}

int32_t SetAttributeInt(int32_t status, XmlElement* element, std::string_view name, int32_t value) {
  if (status != kOk) return status;
  return Guarded([&] { return SetAttribute(status, element, name, std::to_string(value)); });
}

int32_t SetAttributeUint(int32_t status, XmlElement* element, std::string_view name,
                         uint32_t value) {
  if (status != kOk) return status;
  return Guarded([&] { return SetAttribute(status, element, name, std::to_string(value)); });
}

int32_t AddChild(int32_t status, XmlElement* parent, std::string_view name,
                 std::optional<std::string_view> text, XmlElement** added) {
  if (added != nullptr) *added = nullptr;
  if (status != kOk) return status;
  if (parent == nullptr) return kBadArgument;
  std::unique_ptr<XmlElement> child;
  status = NewElement(status, name, text, &child);
  XmlElement* raw = child.get();
  status = AppendChild(status, parent, std::move(child));
  if (status == kOk && added != nullptr) *added = raw;
  return status;
}

int32_t AddChildInt(int32_t status, XmlElement* parent, std::string_view name, int32_t value,
                    XmlElement** added) {
  if (added != nullptr) *added = nullptr;
  if (status != kOk) return status;
  return Guarded([&] { return AddChild(status, parent, name, std::to_string(value), added); });
}

int32_t AddChildUint(int32_t status, XmlElement* parent, std::string_view name, uint32_t value,
                     XmlElement** added) {
  if (added != nullptr) *added = nullptr;
  if (status != kOk) return status;
  return Guarded([&] { return AddChild(status, parent, name, std::to_string(value), added); });
}

std::optional<std::string_view> Value(const XmlElement* root, std::string_view path) {
  if (root == nullptr) return std::nullopt;
  const XmlElement* current = nullptr;
  std::string_view pending;  // the last component seen; looked up once the path ends
  bool have_pending = false;
  while (!path.empty()) {
    const size_t slash = path.find('/');
    const std::string_view component = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    if (component.empty()) continue;
    if (current == nullptr) {
      if (component != root->name) return std::nullopt;
      current = root;
      continue;
    }
    if (have_pending) {
      current = current->FirstChild(pending);
      if (current == nullptr) return std::nullopt;
    }
    pending = component;
    have_pending = true;
  }
  if (!have_pending) return std::nullopt;
  if (const XmlAttribute* attribute = current->FindAttribute(pending)) return attribute->value;
  const XmlElement* child = current->FirstChild(pending);
  if (child == nullptr || !child->text) return std::nullopt;
  return *child->text;
}

int32_t Write(const XmlElement* root, bool declaration, bool indent, bool line_feeds,
              std::string* text) {
  if (root == nullptr || text == nullptr) return kBadArgument;
  return Guarded([&] {
    std::string out;
    out.reserve(128);
    WriteXml(*root, {declaration, indent, line_feeds}, XmlEscaping::kEngine, &out);
    *text = std::move(out);
    return kOk;
  });
}

void Free(std::unique_ptr<XmlElement>& root) { root.reset(); }

}  // namespace pelk::text::engine_xml
