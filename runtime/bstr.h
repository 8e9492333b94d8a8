// BSTR: length-prefixed UTF-16 strings laid out as the platform lays them out. A 4-byte byte
// length precedes the characters, which are followed by a NUL; the BSTR points at the first
// character. A null BSTR means the empty string everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

using OLECHAR = char16_t;
using BSTR = OLECHAR*;

// A new BSTR holding the NUL-terminated text (null text gives null). Null on allocation failure.
BSTR SysAllocString(const OLECHAR* text);
// A new BSTR of `length` characters copied from text, or left zeroed when text is null.
BSTR SysAllocStringLen(const OLECHAR* text, uint32_t length);
// Frees a BSTR from the two functions above; null is allowed.
void SysFreeString(BSTR text);
// Number of characters (not counting the terminator); 0 for null.
uint32_t SysStringLen(BSTR text);
uint32_t SysStringByteLen(BSTR text);

namespace pelk {

// Owns one BSTR. Moves, never copies implicitly; Copy() makes an independent duplicate.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view text);
  explicit Bstr(const char16_t* text) : Bstr(std::u16string_view(text ? text : u"")) {}
  static Bstr FromUtf8(std::string_view text);
  // Takes ownership of an existing BSTR.
  static Bstr Attach(BSTR text) {
    Bstr b;
    b.value_ = text;
    return b;
  }
  Bstr(Bstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.value_, nullptr));
    return *this;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(value_); }

  BSTR Get() const { return value_; }
  // Frees the held string and returns the slot for an out parameter.
  BSTR* Out() {
    Reset();
    return &value_;
  }
  BSTR Detach() { return std::exchange(value_, nullptr); }
  void Reset(BSTR text = nullptr) {
    if (value_ != text) SysFreeString(value_);
    value_ = text;
  }
  Bstr Copy() const { return Bstr(View()); }

  uint32_t Length() const { return SysStringLen(value_); }
  bool Empty() const { return Length() == 0; }
  std::u16string_view View() const { return value_ ? std::u16string_view(value_, Length()) : u""; }
  std::string Utf8() const;

 private:
  BSTR value_ = nullptr;
};

// View of a borrowed BSTR (null reads as empty).
inline std::u16string_view BstrView(BSTR text) {
  return text ? std::u16string_view(text, SysStringLen(text)) : std::u16string_view();
}
std::string BstrToUtf8(BSTR text);
// A new BSTR from UTF-8 text, for out parameters; null on allocation failure.
BSTR AllocBstrUtf8(std::string_view text);
BSTR AllocBstr(std::u16string_view text);

}  // namespace pelk
