/// @file
/// GUIDs: 128-bit identifiers of classes and interfaces, written as
/// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/// A class or interface identifier, laid out as the platform's.
struct GUID {
  ///@{
  /// The four fields of the identifier, in the platform's layout.
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
  ///@}

  /// Identifiers are equal when every field is.
  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
  }
};
///@{
/// Interface and class identifiers, and the reference types operations take them by.
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
///@}

namespace pelk {

namespace guid_detail {
constexpr uint32_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
  throw "bad hex digit in GUID literal";  // only reachable at compile time
}
constexpr uint32_t Hex(std::string_view s, size_t pos, size_t n) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v = (v << 4) | HexDigit(s[pos + i]);
  return v;
}
}  // namespace guid_detail

/// Compile-time GUID from "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (no braces).
consteval GUID MakeGuid(std::string_view s) {
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') {
    throw "GUID literal must be XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
  }
  using guid_detail::Hex;
  GUID g{
      Hex(s, 0, 8), static_cast<uint16_t>(Hex(s, 9, 4)), static_cast<uint16_t>(Hex(s, 14, 4)), {}};
  g.Data4[0] = static_cast<uint8_t>(Hex(s, 19, 2));
  g.Data4[1] = static_cast<uint8_t>(Hex(s, 21, 2));
  for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<uint8_t>(Hex(s, 24 + 2 * i, 2));
  return g;
}

/// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as the registry stores class ids.
std::string GuidToString(const GUID& g);
/// Accepts the braced or unbraced form, any case; nullopt for anything else.
std::optional<GUID> GuidFromString(std::string_view text);

}  // namespace pelk

///@{
/// The all-zero identifier.
inline constexpr GUID GUID_NULL{};
inline constexpr IID IID_NULL{};
///@}
