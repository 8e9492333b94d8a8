// Text normalization: brings artist, album and track names to a canonical form before they are
// compared (lower case, accents folded, symbols spelled out, punctuation as word breaks, short
// function words removed, Roman numerals spelled out, plural s stripped, spelled-out letters
// joined, repeated letters collapsed). Pure computation; safe from any thread.
//
// Text is UTF-16, one code unit per character (a surrogate pair is two unrelated characters).
// A NUL code unit ends the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pelk {
class Bstr;
}

namespace pelk::text {

// Flags of Normalize. The character table's letters pass always runs.
enum NormalizeFlags : uint32_t {
  kNormalizeFunctionWords = 0x001,    // remove a, the, de, la, ... (whole words)
  kNormalizeElisions = 0x002,         // delete d' and l' at a word start
  kNormalizeCompositions = 0x004,     // "the the" -> "thethe"; katakana with a separate mark
  kNormalizePluralS = 0x008,          // strip the final s of words of 4+ characters
  kNormalizeJoinedLetters = 0x010,    // "r e m" -> "rem"
  kNormalizeNumbers = 0x020,          // digit words spelled out in English
  kNormalizeRomanNumerals = 0x040,    // i ... xxx spelled out in English
  kNormalizeCollapseRepeats = 0x080,  // "abbo" -> "abo"
  kNormalizePunctuation = 0x100,      // punctuation and symbols applied (word breaks, "and", ...)
};

// The flag set the system uses everywhere (everything but numbers as words).
constexpr uint32_t kStandardNormalizeFlags = 0x1DF;

// Result codes of Normalize (0 is success).
constexpr int32_t kNormalizeOk = 0;
constexpr int32_t kNormalizeOutOfMemory = 12;
constexpr int32_t kNormalizeEmptyResult = 28;

// Callers hold normalized text in buffers of this many code units, terminator included.
constexpr size_t kNormalizedBufferSize = 1024;

// Normalizes `text` with `flags`. On success *result holds the canonical text (never empty) and
// 0 is returned. A result that is empty is retried once with kNormalizeJoinedLetters alone (when
// the flags held anything else); if it is still empty, kNormalizeEmptyResult is returned and
// *result is left as it was. kNormalizeOutOfMemory when a buffer cannot be allocated.
int32_t Normalize(std::u16string_view text, uint32_t flags, std::u16string* result);

// The standard wrapper. Returns 0 and leaves `destination` untouched when `source` is null or
// empty, `destination` is null or `size` is 0. Otherwise normalizes with the standard flags and,
// on success, writes at most size-1 code units of the result followed by a NUL; returns
// Normalize's result (on failure `destination` is untouched).
// REQUIRES: source is NUL-terminated; destination has room for `size` code units.
int32_t NormalizeText(size_t size, const char16_t* source, char16_t* destination);

// In-place normalization of a text value: an empty value is left alone; otherwise the value is
// replaced by its standard normalization (cut to 1023 code units) when that succeeds and kept
// unchanged when it fails. Returns the normalizer's result.
int32_t NormalizeInPlace(std::u16string& value);
int32_t NormalizeInPlace(Bstr& value);

// What a caller holding a cleared 1024-unit buffer sees after NormalizeText: the standard
// normalization cut to 1023 code units, or the empty text when `source` is empty or fails.
std::u16string StandardNormalized(std::u16string_view source);
// The same into *out, reusing the room it holds.
void StandardNormalized(std::u16string_view source, std::u16string* out);

}  // namespace pelk::text
