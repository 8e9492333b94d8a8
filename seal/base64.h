// Base64 with the standard alphabet ("+", "/", pad "="), no line breaks.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/hresult.h"

namespace pelk::text {

inline constexpr HRESULT kBase64OutOfMemory = static_cast<HRESULT>(0x900C0001u);
inline constexpr HRESULT kBase64BadCharacter = static_cast<HRESULT>(0x900C0004u);
inline constexpr HRESULT kBase64MisplacedPad = static_cast<HRESULT>(0x900C000Bu);

// Appends the padded encoding of `bytes` to *out. Throws std::bad_alloc when memory runs out.
void Base64Encode(std::span<const uint8_t> bytes, std::string* out);

// Decodes `text` into *bytes (replacing its content). Each group of four characters gives three
// bytes. A "=" in the third or fourth place of a group ends decoding with the bytes completed so
// far, and so does the end of the text inside a group; a "=" in the first or second place is
// kBase64MisplacedPad; any other character outside the alphabet is kBase64BadCharacter.
HRESULT Base64Decode(std::string_view text, std::vector<uint8_t>* bytes);

}  // namespace pelk::text
