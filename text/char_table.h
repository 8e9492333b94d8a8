// The normalizer's character table: a class, an action and a replacement text for every UTF-16
// code unit, and the two-character table of half-width katakana with their voiced marks. The
// tables are generated (tools/gen_char_table.py) and read-only.
#pragma once

#include <cstdint>
#include <string_view>

namespace pelk::text {

enum class CharClass : uint8_t {
  kSpace = 0,
  kLetter = 1,
  kDigit = 2,
  kPunctuation = 3,  // punctuation or symbol
  kControl = 4,
  kOther = 5,  // anything not listed
};

enum class CharAction : uint8_t {
  kCopy = 0,
  kDrop = 1,
  kWordBreak = 2,       // one space unless the output already ends in one or is empty
  kReplace = 3,         // the replacement text
  kWord = 4,            // the replacement as a word of its own
  kInsideWord = 5,      // the replacement next to a letter, dropped at a word start
  kBetweenLetters = 6,  // the replacement between two letters, else a word break
  kDigitGrouping = 7,   // dropped between two digits or at a word start, else a word break
};

struct CharEntry {
  CharClass char_class;
  CharAction action;
  std::u16string_view replacement;  // points into the static table
};

// The entry of one code unit; code units whose block has no table are class 5, action 0.
CharEntry LookupChar(char16_t c);

// True when `first` `second` is one of the 25 half-width katakana + half-width (semi-)voiced
// mark sequences; `*composed` is then the full-width voiced katakana.
bool LookupPair(char16_t first, char16_t second, char16_t* composed);

}  // namespace pelk::text
