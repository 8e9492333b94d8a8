// Reading decimal numbers out of texts the way the platform's wide-string-to-integer conversion
// does when used for "the decimal value of a text": leading blanks, an optional sign, then the
// digits up to the first non-digit ("3/12" reads 3); no digits read 0. Out-of-range values
// saturate instead of overflowing.
#pragma once

#include <cstdint>
#include <string_view>

namespace pelk {

int32_t DecimalValue(std::u16string_view text);

}  // namespace pelk
