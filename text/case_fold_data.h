// Layout of the generated simple case-folding table (case_fold_generated.cpp).
#pragma once

#include <cstddef>

namespace pelk::text::internal {

struct CaseFoldPair {
  char16_t from;
  char16_t to;
};
extern const CaseFoldPair kCaseFoldPairs[];  // sorted by `from`
extern const size_t kCaseFoldPairCount;

}  // namespace pelk::text::internal
