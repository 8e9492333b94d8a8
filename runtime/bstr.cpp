#include "runtime/bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "runtime/utf.h"

namespace {

// Largest length whose byte count still fits the 32-bit prefix.
constexpr uint32_t kMaxChars = (std::numeric_limits<uint32_t>::max() - 8) / 2;

uint32_t* PrefixOf(BSTR text) { return reinterpret_cast<uint32_t*>(text) - 1; }

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, uint32_t length) {
  if (length > kMaxChars) return nullptr;
  const size_t bytes = size_t{length} * sizeof(OLECHAR);
  auto* block = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  block[0] = static_cast<uint32_t>(bytes);
  auto* chars = reinterpret_cast<OLECHAR*>(block + 1);
  if (text) {
    std::memcpy(chars, text, bytes);
  } else {
    std::memset(chars, 0, bytes);
  }
  chars[length] = 0;
  return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  return SysAllocStringLen(text, static_cast<uint32_t>(std::char_traits<char16_t>::length(text)));
}

void SysFreeString(BSTR text) {
  if (text) std::free(PrefixOf(text));
}

uint32_t SysStringByteLen(BSTR text) { return text ? *PrefixOf(text) : 0; }

uint32_t SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

namespace pelk {

Bstr::Bstr(std::u16string_view text) : value_(AllocBstr(text)) {}

Bstr Bstr::FromUtf8(std::string_view text) { return Attach(AllocBstrUtf8(text)); }

std::string Bstr::Utf8() const { return Utf16ToUtf8(View()); }

std::string BstrToUtf8(BSTR text) { return Utf16ToUtf8(BstrView(text)); }

BSTR AllocBstr(std::u16string_view text) {
  if (text.size() > kMaxChars) return nullptr;
  return SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
}

BSTR AllocBstrUtf8(std::string_view text) { return AllocBstr(Utf8ToUtf16(text)); }

}  // namespace pelk
