#include "text/case_fold.h"

#include <algorithm>

#include "text/case_fold_data.h"

namespace pelk::text {

char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
  if (c < 0xB5) return c;  // nothing else below MICRO SIGN folds
  const internal::CaseFoldPair* first = internal::kCaseFoldPairs;
  const internal::CaseFoldPair* last = first + internal::kCaseFoldPairCount;
  const internal::CaseFoldPair* it = std::lower_bound(
      first, last, c, [](const internal::CaseFoldPair& p, char16_t key) { return p.from < key; });
  return it != last && it->from == c ? it->to : c;
}

int CompareIgnoreCase(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t fa = FoldCase(a[i]);
    const char16_t fb = FoldCase(b[i]);
    if (fa != fb) return fa < fb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareIgnoreCase(a, b) == 0;
}

}  // namespace pelk::text
