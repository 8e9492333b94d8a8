#include "xml/query_xml.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "xml/xml_reader.h"
#include "xml/xml_writer.h"

namespace pelk::text::query_xml {
namespace {

constexpr XmlDialect kQueryDialect = {.skip_byte_order_mark = false,
                                      .query_names = true,
                                      .single_quotes = false,
                                      .single_text_run = true};

template <typename Step>
HRESULT Guarded(Step step) noexcept {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::length_error&) {
    return kOutOfMemory;
  }
}

// Splits off the first "/"-separated component of *path.
std::string_view NextComponent(std::string_view* path) {
  const size_t slash = path->find('/');
  const std::string_view component = path->substr(0, slash);
  *path = slash == std::string_view::npos ? std::string_view() : path->substr(slash + 1);
  return component;
}

bool ValidPath(std::string_view path) {
  if (path.empty()) return false;
  for (;;) {
    const bool last = path.find('/') == std::string_view::npos;
    if (!IsXmlName(NextComponent(&path), /*query_names=*/true)) return false;
    if (last) return true;
  }
}

}  // namespace

HRESULT Parse(const char* text, size_t length, std::unique_ptr<XmlElement>* root) {
  if (root == nullptr) return kBadArgument;
  root->reset();
  if (text == nullptr) return kBadArgument;
  if (const void* nul = std::memchr(text, '\0', length)) {
    length = static_cast<size_t>(static_cast<const char*>(nul) - text);
  }
  switch (ReadXml(std::string_view(text, length), kQueryDialect, root)) {
    case XmlReadStatus::kOk:
      return S_OK;
    case XmlReadStatus::kOutOfMemory:
      return kOutOfMemory;
    case XmlReadStatus::kSyntax:
      return kMalformed;
    case XmlReadStatus::kUnexpectedEnd:
      return kUnexpectedEnd;
    case XmlReadStatus::kBadCharacter:
      return kBadCharacter;
  }
  return kMalformed;
}

HRESULT Parse(const char* text, std::unique_ptr<XmlElement>* root) {
  return Parse(text, text == nullptr ? 0 : std::strlen(text), root);
}

XmlElement* Find(XmlElement* element, std::string_view path) {
  while (element != nullptr) {
    const bool last = path.find('/') == std::string_view::npos;
    element = element->FirstChild(NextComponent(&path));
    if (last) break;
  }
  return element;
}

const XmlElement* Find(const XmlElement* element, std::string_view path) {
  return Find(const_cast<XmlElement*>(element), path);
}

std::optional<std::string_view> TextAt(const XmlElement* element, std::string_view path) {
  const XmlElement* found = Find(element, path);
  if (found == nullptr || !found->text) return std::nullopt;
  return *found->text;
}

HRESULT SetText(XmlElement* element, std::string_view text) {
  if (element == nullptr) return kBadArgument;
  return Guarded([&] {
    element->text.emplace(text);
    return S_OK;
  });
}

HRESULT SetTextByPath(XmlElement* element, std::string_view path, std::string_view text,
                      bool create) {
  if (element == nullptr || !ValidPath(path)) return kBadArgument;
  return Guarded([&] {
    // Walk first, so that nothing is created when the text cannot be set.
    XmlElement* current = element;
    std::string_view rest = path;
    while (!rest.empty()) {
      std::string_view probe = rest;
      XmlElement* next = current->FirstChild(NextComponent(&probe));
      if (next == nullptr) break;
      current = next;
      rest = probe;
    }
    if (!rest.empty() && !create) return kNotFound;
    std::string new_text(text);
    // Build the missing chain apart, then hang it on in one step: a failure leaves the tree as
    // it was.
    std::unique_ptr<XmlElement> chain;
    XmlElement* tail = nullptr;
    while (!rest.empty()) {
      auto made = std::make_unique<XmlElement>(std::string(NextComponent(&rest)));
      XmlElement* raw = made.get();
      if (tail == nullptr) {
        chain = std::move(made);
      } else {
        tail->children.push_back(std::move(made));
      }
      tail = raw;
    }
    if (chain != nullptr) {
      current->children.push_back(std::move(chain));
      current = tail;
    }
    current->text = std::move(new_text);
    return S_OK;
  });
}

HRESULT SetTextByPathUint(XmlElement* element, std::string_view path, uint32_t value, bool create) {
  return Guarded([&] { return SetTextByPath(element, path, std::to_string(value), create); });
}

HRESULT SetAttribute(XmlElement* element, std::string_view name, std::string_view value) {
  if (element == nullptr || !IsXmlName(name, /*query_names=*/true)) return kBadArgument;
  return Guarded([&] {
    XmlAttribute added{std::string(name), std::string(value)};
    auto& attributes = element->attributes;
    if (!value.empty()) attributes.reserve(attributes.size() + 1);  // nothing can fail below
    std::erase_if(attributes, [&](const XmlAttribute& a) { return a.name == name; });
    if (!value.empty()) attributes.push_back(std::move(added));
    return S_OK;
  });
}

HRESULT Write(const XmlElement* root, bool declaration, bool indent, bool line_feeds,
              std::string* text) {
  if (root == nullptr || text == nullptr) return kBadArgument;
  return Guarded([&] {
    std::string out;
    out.reserve(256);
    WriteXml(*root, {declaration, indent, line_feeds}, XmlEscaping::kQuery, &out);
    *text = std::move(out);
    return S_OK;
  });
}

bool Equal(const XmlElement* a, const XmlElement* b) {
  if (a == nullptr || b == nullptr) return a == b;
  const std::string_view text_a = a->text ? std::string_view(*a->text) : std::string_view();
  const std::string_view text_b = b->text ? std::string_view(*b->text) : std::string_view();
  if (a->name != b->name || text_a != text_b) return false;
  if (a->attributes.size() != b->attributes.size() || a->children.size() != b->children.size()) {
    return false;
  }
  for (size_t i = 0; i < a->attributes.size(); ++i) {
    if (a->attributes[i].name != b->attributes[i].name ||
        a->attributes[i].value != b->attributes[i].value) {
      return false;
    }
  }
  for (size_t i = 0; i < a->children.size(); ++i) {
    if (!Equal(a->children[i].get(), b->children[i].get())) return false;
  }
  return true;
}

void Free(std::unique_ptr<XmlElement>& root) { root.reset(); }

}  // namespace pelk::text::query_xml
