/// @file
/// UTF-8 <-> UTF-16 conversion. The platform's 8-bit "ANSI" text is UTF-8 here.
/// Conversions never fail on content: a lone surrogate or an invalid UTF-8 sequence becomes
/// U+FFFD, one replacement per maximal invalid subpart.
#pragma once

#include <string>
#include <string_view>

namespace pelk {

/// UTF-8 to UTF-16.
std::u16string Utf8ToUtf16(std::string_view text);
/// UTF-16 to UTF-8.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace pelk
