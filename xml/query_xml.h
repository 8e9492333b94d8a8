// The query document component: reads, edits, compares and writes the query documents that
// carry serialized fingerprints. Operations return 0 or one of the 0x9003.... codes below.
//
// Trees are XmlElement values owned through std::unique_ptr: the caller owns the root, and a
// parent owns its children. No shared state; a tree belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/hresult.h"
#include "xml/xml_element.h"

namespace pelk::text::query_xml {

inline constexpr HRESULT kOutOfMemory = static_cast<HRESULT>(0x90030001u);
inline constexpr HRESULT kNotFound = static_cast<HRESULT>(0x90030002u);
inline constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x90030004u);
inline constexpr HRESULT kMalformed = static_cast<HRESULT>(0x90030361u);
inline constexpr HRESULT kBadCharacter = static_cast<HRESULT>(0x90030362u);
inline constexpr HRESULT kUnexpectedEnd = static_cast<HRESULT>(0x90030363u);

// Reads one document from a NUL-terminated text. Stricter than the engine reader: no byte-order
// mark, names of letters, digits and "_" only (a digit may come first), attribute values in
// double quotes only, and at most one text run per element. Entities and numeric references
// are decoded as the engine reader does. Nesting deeper than kMaxXmlDepth levels is malformed.
// On failure *root is empty.
HRESULT Parse(const char* text, std::unique_ptr<XmlElement>* root);
// The same for `length` bytes of `text`; reading stops early at a NUL.
HRESULT Parse(const char* text, size_t length, std::unique_ptr<XmlElement>* root);

// The element at a "/"-separated path below `element` (its own name is not part of the path):
// each component selects the first child with exactly that name. Null when nothing matches.
XmlElement* Find(XmlElement* element, std::string_view path);
const XmlElement* Find(const XmlElement* element, std::string_view path);

// The text of the element at `path`; nullopt when there is no such element or it has no text.
// The view points into the tree.
std::optional<std::string_view> TextAt(const XmlElement* element, std::string_view path);

// Replaces the element's text.
HRESULT SetText(XmlElement* element, std::string_view text);

// Sets the text of the element at `path`. With `create`, missing elements on the way are
// appended as last children; without it a missing element gives kNotFound. An empty path, or
// one with an empty component (leading, doubled or trailing "/"), or a component that is not a
// valid name, gives kBadArgument. The Uint form formats `value` with "%u".
HRESULT SetTextByPath(XmlElement* element, std::string_view path, std::string_view text,
                      bool create);
HRESULT SetTextByPathUint(XmlElement* element, std::string_view path, uint32_t value, bool create);

// Removes any attribute of that name and, unless `value` is empty, appends the new one last.
HRESULT SetAttribute(XmlElement* element, std::string_view name, std::string_view value);

// Writes the tree into *text (replacing its content). Values and texts escape all five of
// " ' & < >.
HRESULT Write(const XmlElement* root, bool declaration, bool indent, bool line_feeds,
              std::string* text);

// Structural equality: names, texts, attributes in order and children in order. An absent text
// equals an empty one (the written forms are the same). Two null trees are equal.
bool Equal(const XmlElement* a, const XmlElement* b);

// Frees the tree and leaves `root` empty; safe on an empty pointer and when called twice.
void Free(std::unique_ptr<XmlElement>& root);

}  // namespace pelk::text::query_xml
