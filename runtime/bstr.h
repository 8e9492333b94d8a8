/// @file
/// BSTR: length-prefixed UTF-16 strings laid out as the platform lays them out. A 4-byte byte
/// length precedes the characters, which are followed by a NUL; the BSTR points at the first
/// character. A null BSTR means the empty string everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

/// One UTF-16 code unit.
using OLECHAR = char16_t;
/// A length-prefixed UTF-16 string. Ownership rule: a BSTR passed in is borrowed for
/// the call; a BSTR handed out through an out parameter belongs to the caller, who frees it with
/// SysFreeString (or holds it in a pelk::Bstr).
using BSTR = OLECHAR*;

/// A new BSTR holding the NUL-terminated text (null text gives null). Null on allocation failure.
BSTR SysAllocString(const OLECHAR* text);
/// A new BSTR of `length` characters copied from text, or left zeroed when text is null.
BSTR SysAllocStringLen(const OLECHAR* text, uint32_t length);
/// Frees a BSTR from the two functions above; null is allowed.
void SysFreeString(BSTR text);
/// Number of characters (not counting the terminator); 0 for null.
uint32_t SysStringLen(BSTR text);
/// Number of bytes (twice the number of characters); 0 for null.
uint32_t SysStringByteLen(BSTR text);

namespace pelk {

/// Owns one BSTR. Moves, never copies implicitly; Copy() makes an independent duplicate.
class Bstr {
 public:
  Bstr() = default;
  /// A new string copied from text.
  explicit Bstr(std::u16string_view text);
  /// A new string copied from NUL-terminated text (null reads as empty).
  explicit Bstr(const char16_t* text) : Bstr(std::u16string_view(text ? text : u"")) {}
  /// A new string from UTF-8 text (invalid sequences become U+FFFD).
  static Bstr FromUtf8(std::string_view text);
  /// Takes ownership of an existing BSTR.
  static Bstr Attach(BSTR text) {
    Bstr b;
    b.value_ = text;
    return b;
  }
  ///@{
  /// Moves the string; the source is left empty.
  Bstr(Bstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    ///@}
    if (this != &other) Reset(std::exchange(other.value_, nullptr));
    return *this;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(value_); }

  /// The held string, still owned by this object: pass it as an in argument.
  BSTR Get() const { return value_; }
  /// Frees the held string and returns the slot for an out parameter.
  BSTR* Out() {
    Reset();
    return &value_;
  }
  /// Gives up the string without freeing it: the caller now owns it.
  BSTR Detach() { return std::exchange(value_, nullptr); }
  /// Frees the held string and takes ownership of text.
  void Reset(BSTR text = nullptr) {
    if (value_ != text) SysFreeString(value_);
    value_ = text;
  }
  /// An independent copy.
  Bstr Copy() const { return Bstr(View()); }

  /// Number of characters.
  uint32_t Length() const { return SysStringLen(value_); }
  /// True for a null or empty string.
  bool Empty() const { return Length() == 0; }
  /// The characters, valid while this object holds them.
  std::u16string_view View() const { return value_ ? std::u16string_view(value_, Length()) : u""; }
  /// The text as UTF-8.
  std::string Utf8() const;

 private:
  BSTR value_ = nullptr;
};

/// View of a borrowed BSTR (null reads as empty).
inline std::u16string_view BstrView(BSTR text) {
  return text ? std::u16string_view(text, SysStringLen(text)) : std::u16string_view();
}
/// A borrowed BSTR as UTF-8 (null reads as empty).
std::string BstrToUtf8(BSTR text);
/// A new BSTR from UTF-8 text, for out parameters; null on allocation failure.
BSTR AllocBstrUtf8(std::string_view text);
/// A new BSTR from UTF-16 text, for out parameters; null on allocation failure.
BSTR AllocBstr(std::u16string_view text);

}  // namespace pelk
