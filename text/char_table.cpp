#include "text/char_table.h"

#include "text/char_table_data.h"

namespace pelk::text {

CharEntry LookupChar(char16_t c) {
  const internal::CharBlock* block = internal::kCharBlocks[c >> 8];
  if (block == nullptr) return {CharClass::kOther, CharAction::kCopy, {}};
  const unsigned low = c & 0xFFu;
  const uint8_t kind = block->kind[low];
  return {static_cast<CharClass>(kind >> 4), static_cast<CharAction>(kind & 0x0Fu),
          std::u16string_view(internal::kReplacementPool + block->offset[low], block->length[low])};
}

bool LookupPair(char16_t first, char16_t second, char16_t* composed) {
  if (second != 0xFF9E && second != 0xFF9F) return false;
  for (size_t i = 0; i < internal::kHalfwidthPairCount; ++i) {
    const internal::CharPair& pair = internal::kHalfwidthPairs[i];
    if (pair.first == first && pair.second == second) {
      *composed = pair.composed;
      return true;
    }
  }
  return false;
}

}  // namespace pelk::text
