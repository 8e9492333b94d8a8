// The fuzzy measures against plain textbook versions of themselves on generated texts: the fast
// paths (common ends dropped, bit-parallel distance, tiling by table rows, equal-text shortcuts)
// must give every value the plain algorithms give.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/utf.h"
#include "tests/support/random_titles.h"
#include "text/normalize.h"
#include "text/similarity.h"

namespace pelk::text {
namespace {

// Levenshtein over code points (a pair is one code point, a lone surrogate U+FFFD), full rows.
std::u32string PlainCodePoints(std::u16string_view text) {
  std::u32string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      out.push_back(c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c);
    }
  }
  return out;
}

int32_t PlainEditDifference(std::u16string_view a16, std::u16string_view b16) {
  const std::u32string a = PlainCodePoints(a16), b = PlainCodePoints(b16);
  const size_t longer = std::max(a.size(), b.size());
  if (longer == 0) return 0;
  std::vector<size_t> prev(b.size() + 1), cur(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) prev[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    cur[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] != b[j - 1])});
    }
    std::swap(prev, cur);
  }
  return static_cast<int32_t>(prev[b.size()] * 100 / longer);
}

// Greedy string tiling as its description reads: each round, from every start in a and b,
// the longest common run of uncovered units; all runs of the round's greatest length, in the
// order found, become tiles unless they overlap a tile.
int32_t PlainTiling(std::u16string_view a, std::u16string_view b, int32_t minimum) {
  if (a.empty() || b.empty()) return -1;
  const size_t min_length = static_cast<size_t>(std::max(minimum, 1));
  if (a.size() < min_length || b.size() < min_length) return 0;
  a = a.substr(0, 1023);
  b = b.substr(0, 1023);
  std::vector<bool> covered_a(a.size()), covered_b(b.size());
  struct Run {
    size_t p, t, length;
  };
  size_t tiled = 0, longest;
  do {
    longest = min_length;
    std::vector<Run> runs;
    for (size_t p = 0; p < a.size(); ++p) {
      for (size_t t = 0; t < b.size(); ++t) {
        size_t j = 0;
        while (p + j < a.size() && t + j < b.size() && a[p + j] == b[t + j] && !covered_a[p + j] &&
               !covered_b[t + j]) {
          ++j;
        }
        if (j > longest) runs.clear(), longest = j;
        if (j == longest) runs.push_back({p, t, j});
      }
    }
    for (const Run& r : runs) {
      bool free = true;
      for (size_t k = 0; k < r.length; ++k)
        free = free && !covered_a[r.p + k] && !covered_b[r.t + k];
      if (!free) continue;
      for (size_t k = 0; k < r.length; ++k) covered_a[r.p + k] = covered_b[r.t + k] = true;
      tiled += r.length;
    }
  } while (longest > min_length && tiled < std::min(a.size(), b.size()));
  return static_cast<int32_t>(200 * tiled / (a.size() + b.size()));
}

int32_t PlainField(std::u16string_view fr, std::u16string_view fn, std::u16string_view rr,
                   std::u16string_view rn) {
  if (fr.empty() || rr.empty()) return 0;
  const bool normalized = !fn.empty() && !rn.empty();
  auto edit = [](auto x, auto y) { return std::max(0, 100 - PlainEditDifference(x, y)); };
  auto tiling = [](auto x, auto y) {
    int32_t g = PlainTiling(x, y, 3);
    if (g < 0 || g > 100) g = 0;
    return g == 0 && x.size() == 2 && y.size() == 2 && x == y ? 100 : g;
  };
  auto contains = [](auto x, auto y) { return x.find(y) != x.npos || y.find(x) != y.npos; };
  const int32_t l = std::max(edit(fr, rr), normalized ? edit(fn, rn) : 0) +
                    std::max(tiling(fr, rr), normalized ? tiling(fn, rn) : 0);
  const bool contained = (fr.size() >= 4 && rr.size() >= 4 && contains(fr, rr)) ||
                         (fn.size() > 5 && rn.size() > 5 && contains(fn, rn));
  return contained && l < 180 ? 90 : l / 2;
}

std::string Show(std::u16string_view text) { return Utf16ToUtf8(text); }

TEST(SimilarityReferenceTest, PlainAlgorithmsAgreeOnThePlainCases) {
  // The references themselves, on the values the measures' own tests pin down.
  EXPECT_EQ(PlainEditDifference(u"kitten", u"sitting"), 42);
  EXPECT_EQ(PlainTiling(u"abcd xyz", u"xyz abcd", 3), 87);
  EXPECT_EQ(PlainTiling(u"aaaa", u"aaa", 3), 85);
}

TEST(SimilarityReferenceTest, EveryValueEqualsThePlainAlgorithms) {
  testing::RandomTitles titles(20261208);
  int compared = 0;
  for (int i = 0; i < 4000; ++i) {
    const std::u16string a = titles.Text();
    const std::u16string b = titles.Variant(a);
    SCOPED_TRACE("a = \"" + Show(a) + "\", b = \"" + Show(b) + "\"");
    ASSERT_EQ(EditDifference(a, b), PlainEditDifference(a, b));
    const int32_t minimum = static_cast<int32_t>(titles.Below(5));
    ASSERT_EQ(TilingSimilarity(a, b, minimum), PlainTiling(a, b, minimum)) << minimum;
    const std::u16string na = StandardNormalized(a), nb = StandardNormalized(b);
    ASSERT_EQ(FieldSimilarity(a, na, b, nb), PlainField(a, na, b, nb));
    ASSERT_EQ(FieldSimilarity(b, nb, a, u""), PlainField(b, nb, a, u""));
    ++compared;
  }
  EXPECT_EQ(compared, 4000);
}

TEST(SimilarityReferenceTest, EditDifferenceAroundTheWordSize) {
  // Patterns of 63, 64 and 65 characters after the common ends are dropped, with repeats, so the
  // bit-parallel distance and the table meet at their border.
  testing::RandomTitles titles(7);
  for (size_t length : {1, 2, 63, 64, 65, 66, 130}) {
    for (int i = 0; i < 40; ++i) {
      std::u16string a, b;
      for (size_t k = 0; k < length; ++k) a += static_cast<char16_t>(u'a' + titles.Below(3));
      for (size_t k = 0; k < length + titles.Below(3); ++k) {
        b += static_cast<char16_t>(titles.Chance(10) ? u'東' : u'a' + titles.Below(3));
      }
      ASSERT_EQ(EditDifference(a, b), PlainEditDifference(a, b)) << Show(a) << " / " << Show(b);
      ASSERT_EQ(EditDifference(b, a), PlainEditDifference(b, a)) << Show(a) << " / " << Show(b);
    }
  }
}

}  // namespace
}  // namespace pelk::text
