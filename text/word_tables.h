// The normalizer's word tables: Roman numerals, compositions, function words, and the number
// words used to spell out digit strings. Matched at a word start against a whole word.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace pelk::text {

struct WordReplacement {
  std::u16string_view from;
  std::u16string_view to;
};

// i ... xxx spelled as English numbers (each entry a single word).
std::span<const WordReplacement> RomanNumerals();
// "the the", then the katakana written with a separate voiced or semi-voiced mark.
std::span<const WordReplacement> Compositions();
// The 34 short words removed from titles, in their fixed order (each a single word).
std::span<const std::u16string_view> FunctionWords();

// True when `text` at `pos` starts with `word` followed by a space or the end of the text.
bool MatchesWholeWord(std::u16string_view text, size_t pos, std::u16string_view word);

// Appends the English words for a string of ASCII digits (leading zeros skipped, "zero" when
// nothing remains). Returns false, appending nothing, when a character is not a digit or the
// number has more than 22 groups of three digits.
bool AppendNumberWords(std::u16string_view digits, std::u16string& out);

}  // namespace pelk::text
