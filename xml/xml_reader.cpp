#include "xml/xml_reader.h"

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

namespace pelk::text {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsNameStart(char c, bool query_names) {
  if (query_names) return IsLetter(c) || IsDigit(c) || c == '_';
  return IsLetter(c) || c == '_' || c == ':';
}

bool IsNameChar(char c, bool query_names) {
  if (query_names) return IsLetter(c) || IsDigit(c) || c == '_';
  return IsLetter(c) || IsDigit(c) || c == '-' || c == '.' || c == ':' || c == '_';
}

void AppendUtf8(uint32_t code_point, std::string* out) {
  // The original, pre-2003 form of UTF-8: up to six bytes, code points up to 0x7FFFFFFF.
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
    return;
  }
  int extra = code_point < 0x800       ? 1
              : code_point < 0x10000   ? 2
              : code_point < 0x200000  ? 3
              : code_point < 0x4000000 ? 4
                                       : 5;
  const unsigned lead_marks[] = {0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
  out->push_back(static_cast<char>(lead_marks[extra] | (code_point >> (6 * extra))));
  for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6) {
    out->push_back(static_cast<char>(0x80 | ((code_point >> shift) & 0x3F)));
  }
}

// A numeric reference "&#...;" or "&#x...;" at the start of `s`. Returns its length and sets
// *code_point, or returns 0 when `s` does not start with a usable reference.
size_t NumericReference(std::string_view s, uint32_t* code_point) {
  if (s.size() < 4 || s[0] != '&' || s[1] != '#') return 0;
  size_t i = 2;
  const bool hex = s[i] == 'x';
  if (hex) ++i;
  const size_t digits_start = i;
  uint64_t value = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    int digit;
    if (IsDigit(c)) {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (value > 0x7FFFFFFF) return 0;
  }
  if (i == digits_start || i >= s.size() || s[i] != ';') return 0;
  // A NUL would end the text for every consumer of the 8-bit text, so "&#0;" stays as written.
  if (value == 0) return 0;
  *code_point = static_cast<uint32_t>(value);
  return i + 1;
}

// Replaces the five entities and numeric references; any other "&" is an ordinary character.
void Decode(std::string_view raw, std::string* out) {
  static constexpr struct {
    std::string_view entity;
    char character;
  } kEntities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}};
  out->clear();
  out->reserve(raw.size());
  size_t i = 0;
  while (i < raw.size()) {
    if (raw[i] != '&') {
      out->push_back(raw[i++]);
      continue;
    }
    const std::string_view rest = raw.substr(i);
    bool replaced = false;
    for (const auto& e : kEntities) {
      if (rest.starts_with(e.entity)) {
        out->push_back(e.character);
        i += e.entity.size();
        replaced = true;
        break;
      }
    }
    if (replaced) continue;
    uint32_t code_point = 0;
    if (size_t length = NumericReference(rest, &code_point)) {
      AppendUtf8(code_point, out);
      i += length;
    } else {
      out->push_back(raw[i++]);
    }
  }
}

class Reader {
 public:
  Reader(std::string_view text, const XmlDialect& dialect)
      : p_(text.data()), end_(text.data() + text.size()), dialect_(dialect) {}

  XmlReadStatus Document(std::unique_ptr<XmlElement>* root) {
    SkipSpace();
    if (dialect_.skip_byte_order_mark && Remaining().starts_with("\xEF\xBB\xBF")) {
      p_ += 3;
      SkipSpace();
    }
    if (AtEnd() || *p_ != '<') return XmlReadStatus::kSyntax;
    if (Remaining().starts_with("<?")) {
      constexpr std::string_view kOpen = "<?xml";
      if (Remaining().size() < kOpen.size()) {
        return kOpen.starts_with(Remaining()) ? XmlReadStatus::kUnexpectedEnd
                                              : XmlReadStatus::kSyntax;
      }
      if (!Remaining().starts_with(kOpen)) return XmlReadStatus::kSyntax;
      const size_t close = Remaining().find("?>", kOpen.size());
      if (close == std::string_view::npos) return XmlReadStatus::kUnexpectedEnd;
      p_ += close + 2;
      SkipSpace();
      if (AtEnd()) return XmlReadStatus::kUnexpectedEnd;
      if (*p_ != '<') return XmlReadStatus::kSyntax;
    }
    if (XmlReadStatus status = Element(root, 0); status != XmlReadStatus::kOk) return status;
    SkipSpace();
    return AtEnd() ? XmlReadStatus::kOk : XmlReadStatus::kSyntax;
  }

 private:
  bool AtEnd() const { return p_ == end_; }
  std::string_view Remaining() const { return {p_, static_cast<size_t>(end_ - p_)}; }
  void SkipSpace() {
    while (!AtEnd() && IsSpace(*p_)) ++p_;
  }

  XmlReadStatus Name(std::string* name) {
    if (AtEnd()) return XmlReadStatus::kUnexpectedEnd;
    if (!IsNameStart(*p_, dialect_.query_names)) return XmlReadStatus::kBadCharacter;
    const char* start = p_;
    while (!AtEnd() && IsNameChar(*p_, dialect_.query_names)) ++p_;
    name->assign(start, p_);
    return XmlReadStatus::kOk;
  }

  // At "=" after an attribute name: "=", then the quoted value.
  XmlReadStatus AttributeValue(std::string* value) {
    SkipSpace();
    if (AtEnd()) return XmlReadStatus::kUnexpectedEnd;
    if (*p_ != '=') return XmlReadStatus::kBadCharacter;
    ++p_;
    SkipSpace();
    if (AtEnd()) return XmlReadStatus::kUnexpectedEnd;
    const char quote = *p_;
    if (quote != '"' && !(quote == '\'' && dialect_.single_quotes)) {
      return XmlReadStatus::kBadCharacter;
    }
    ++p_;
    const size_t close = Remaining().find(quote);
    if (close == std::string_view::npos) return XmlReadStatus::kUnexpectedEnd;
    Decode(Remaining().substr(0, close), value);
    p_ += close + 1;
    return XmlReadStatus::kOk;
  }

  // At "</": the end tag, which must repeat `name`.
  XmlReadStatus EndTag(const std::string& name) {
    p_ += 2;
    std::string end_name;
    if (XmlReadStatus status = Name(&end_name); status != XmlReadStatus::kOk) return status;
    if (end_name != name) return XmlReadStatus::kSyntax;
    SkipSpace();
    if (AtEnd()) return XmlReadStatus::kUnexpectedEnd;
    if (*p_ != '>') return XmlReadStatus::kBadCharacter;
    ++p_;
    return XmlReadStatus::kOk;
  }

  // At "<": one element with everything inside it.
  XmlReadStatus Element(std::unique_ptr<XmlElement>* out, int depth) {
    if (depth >= kMaxXmlDepth) return XmlReadStatus::kSyntax;
    ++p_;
    auto element = std::make_unique<XmlElement>();
    if (XmlReadStatus status = Name(&element->name); status != XmlReadStatus::kOk) return status;

    for (;;) {  // attributes, up to ">" or "/>"
      SkipSpace();
      if (AtEnd()) return XmlReadStatus::kUnexpectedEnd;
      if (*p_ == '/') {
        ++p_;
        if (AtEnd()) return XmlReadStatus::kUnexpectedEnd;
        if (*p_ != '>') return XmlReadStatus::kBadCharacter;
        ++p_;
        *out = std::move(element);
        return XmlReadStatus::kOk;
      }
      if (*p_ == '>') {
        ++p_;
        break;
      }
      XmlAttribute attribute;
      if (XmlReadStatus status = Name(&attribute.name); status != XmlReadStatus::kOk) {
        return status;
      }
      if (XmlReadStatus status = AttributeValue(&attribute.value); status != XmlReadStatus::kOk) {
        return status;
      }
      element->attributes.push_back(std::move(attribute));
    }

    bool had_text_run = false;
    for (;;) {  // content: child elements and text runs, up to the end tag
      SkipSpace();
      if (AtEnd()) return XmlReadStatus::kUnexpectedEnd;
      if (*p_ != '<') {
        const size_t length = Remaining().find('<');
        if (length == std::string_view::npos) return XmlReadStatus::kUnexpectedEnd;
        if (had_text_run && dialect_.single_text_run) return XmlReadStatus::kSyntax;
        std::string text;
        Decode(Remaining().substr(0, length), &text);
        element->text = std::move(text);  // a later run replaces an earlier one
        had_text_run = true;
        p_ += length;
        continue;
      }
      if (end_ - p_ < 2) return XmlReadStatus::kUnexpectedEnd;
      if (p_[1] == '/') {
        if (XmlReadStatus status = EndTag(element->name); status != XmlReadStatus::kOk) {
          return status;
        }
        *out = std::move(element);
        return XmlReadStatus::kOk;
      }
      std::unique_ptr<XmlElement> child;
      if (XmlReadStatus status = Element(&child, depth + 1); status != XmlReadStatus::kOk) {
        return status;
      }
      element->children.push_back(std::move(child));
    }
  }

  const char* p_;
  const char* end_;
  const XmlDialect& dialect_;
};

}  // namespace

XmlReadStatus ReadXml(std::string_view text, const XmlDialect& dialect,
                      std::unique_ptr<XmlElement>* root) noexcept {
  root->reset();
  try {
    std::unique_ptr<XmlElement> tree;
    Reader reader(text, dialect);
    XmlReadStatus status = reader.Document(&tree);
    if (status == XmlReadStatus::kOk) *root = std::move(tree);
    return status;
  } catch (const std::bad_alloc&) {
    return XmlReadStatus::kOutOfMemory;
  } catch (const std::length_error&) {
    return XmlReadStatus::kOutOfMemory;
  }
}

bool IsXmlName(std::string_view name, bool query_names) {
  if (name.empty() || !IsNameStart(name[0], query_names)) return false;
  for (char c : name) {
    if (!IsNameChar(c, query_names)) return false;
  }
  return true;
}

}  // namespace pelk::text
