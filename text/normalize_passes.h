// The two ways Normalize runs its passes over a text once (Normalize adds the retry): through
// the full character table in UTF-16 buffers, or, for ASCII text, in byte buffers with the
// table's ASCII rows at hand. Both give the same text for every input the second takes; the
// tests hold them to each other. Only the normalizer and its tests include this header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelk::text::internal {

// Every code unit through the full character table. Any text, any flags.
std::u16string RunTablePasses(std::u16string_view text, uint32_t flags);

// True when RunAsciiPasses takes `text` with `flags`: every code unit is below 0x80 and the
// flags do not ask for number words (the table passes spell those).
bool AsciiPassesTake(std::u16string_view text, uint32_t flags);

// The passes for ASCII text. When the result is not empty it is written to *out and true is
// returned; otherwise *out is left as it was. Allocates nothing once its per-thread buffers
// have grown to fit (and *out holds enough room).
// REQUIRES: AsciiPassesTake(text, flags).
bool RunAsciiPasses(std::u16string_view text, uint32_t flags, std::u16string* out);

}  // namespace pelk::text::internal
