// Case-insensitive comparison of UTF-16 text: simple Unicode case folding of the Basic
// Multilingual Plane (one code unit to one code unit), then code-unit order. Surrogates and
// characters without a simple folding compare as they are.
#pragma once

#include <string_view>

namespace pelk::text {

// The simple case folding of c (c itself when it has none).
char16_t FoldCase(char16_t c);

// True when a and b are equal after folding both.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

// <0, 0 or >0 as a sorts before, with or after b, comparing folded code units.
int CompareIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace pelk::text
