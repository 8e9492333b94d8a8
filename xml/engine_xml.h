// The engine document component: reads, builds, queries and writes the FINGERPRINT documents of
// the extraction engine. Operations report small status numbers (0 success, see below).
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

#include "xml/xml_element.h"

namespace pelk::text::engine_xml {

inline constexpr int32_t kOk = 0;
inline constexpr int32_t kBadArgument = 1;
inline constexpr int32_t kOutOfMemory = 2;
inline constexpr int32_t kSyntaxError = 3;
inline constexpr int32_t kUnexpectedEnd = 4;
inline constexpr int32_t kBadCharacter = 5;  // a character that may not stand where it is

// Reads one document from `length` bytes of `text`; reading stops early at a NUL. Accepts a
// UTF-8 byte-order mark, an "<?xml ...?>" declaration, attribute values in double or single
// quotes, and decodes the five entities and numeric references (to UTF-8 of up to six bytes);
// any other "&" is kept. When an element has several text runs, the last one is its text.
// Nesting deeper than kMaxXmlDepth levels is a syntax error. On failure *root is empty.
int32_t Parse(const char* text, size_t length, std::unique_ptr<XmlElement>* root);
// The same for a NUL-terminated text.
int32_t Parse(const char* text, std::unique_ptr<XmlElement>* root);

// Builders. Each takes the status of the previous builder call and does nothing but return it
// when it is not kOk, so a chain of calls reports its first failure. A name must follow the
// reader's name rules (else kBadArgument), so that whatever is built can be read back.

// A new, parentless element.
int32_t NewElement(int32_t status, std::string_view name, std::optional<std::string_view> text,
                   std::unique_ptr<XmlElement>* element);
// Appends `child` as the last child of `parent`; ownership of `child` always passes in (it is
// freed when the call fails or is skipped). A failed append leaves `parent` as it was.
int32_t AppendChild(int32_t status, XmlElement* parent, std::unique_ptr<XmlElement> child);
// Replaces the element's text.
int32_t SetText(int32_t status, XmlElement* element, std::string_view text);
// Sets an attribute: an existing attribute of that name gets the new value in place, otherwise
// the attribute is appended. The Int and Uint forms format the value with "%d" and "%u".
int32_t SetAttribute(int32_t status, XmlElement* element, std::string_view name,
                     std::string_view value);
int32_t SetAttributeInt(int32_t status, XmlElement* element, std::string_view name, int32_t value);
int32_t SetAttributeUint(int32_t status, XmlElement* element, std::string_view name,
                         uint32_t value);
// Appends a new child element with a text (none when `text` is nullopt); *added (optional)
// receives it, or null when the call fails or is skipped. The Int and Uint forms format the
// text with "%d" and "%u".
int32_t AddChild(int32_t status, XmlElement* parent, std::string_view name,
                 std::optional<std::string_view> text, XmlElement** added = nullptr);
int32_t AddChildInt(int32_t status, XmlElement* parent, std::string_view name, int32_t value,
                    XmlElement** added = nullptr);
int32_t AddChildUint(int32_t status, XmlElement* parent, std::string_view name, uint32_t value,
                     XmlElement** added = nullptr);

// Looks a value up by path, the root included: "ROOT/CHILD/.../LAST". The first component must
// be the root's name; middle components select the first child of that name; LAST is an
// attribute of the element reached or, failing that, the first child of that name, whose text
// is the value. Empty components (leading or doubled slashes) are skipped. Nothing found, or a
// child without text, gives nullopt. The view points into the tree.
std::optional<std::string_view> Value(const XmlElement* root, std::string_view path);

// Writes the tree into *text (replacing its content). Attribute values escape " ' & <, texts
// escape & < (the other characters are written as they are).
int32_t Write(const XmlElement* root, bool declaration, bool indent, bool line_feeds,
              std::string* text);

// Frees the tree and leaves `root` empty; safe on an empty pointer and when called twice.
void Free(std::unique_ptr<XmlElement>& root);

}  // namespace pelk::text::engine_xml
