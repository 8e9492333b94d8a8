// Layout of the generated tables (char_table_generated.cpp, case_fold_generated.cpp). Only the
// table readers in this folder include this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pelk::text::internal {

// One 256-code-unit block of the character table. kind = class << 4 | action; the replacement
// is length code units of kReplacementPool starting at offset.
struct CharBlock {
  uint8_t kind[256];
  uint8_t length[256];
  uint16_t offset[256];
};

// Indexed by the high byte of a code unit; null for blocks without a table.
extern const CharBlock* const kCharBlocks[256];
extern const char16_t kReplacementPool[];

// A half-width katakana followed by a half-width voiced or semi-voiced mark.
struct CharPair {
  char16_t first;
  char16_t second;
  char16_t composed;
};
extern const CharPair kHalfwidthPairs[];
extern const size_t kHalfwidthPairCount;

struct WordEntry {
  std::u16string_view from;
  std::u16string_view to;
};
// Two-character katakana words written with a separate (combining or half-width) mark.
extern const WordEntry kKatakanaCompositions[];
extern const size_t kKatakanaCompositionCount;

}  // namespace pelk::text::internal
