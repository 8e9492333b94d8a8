// Plain textbook versions of the fuzzy measures, for tests that check the fast ones give every
// value these give: Levenshtein over code points with full rows, greedy string tiling that
// extends every pair of starts, and the field similarity built on them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelk::testing {

// Levenshtein over code points (a pair is one code point, a lone surrogate U+FFFD), full rows.
inline std::u32string PlainCodePoints(std::u16string_view text) {
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

inline int32_t PlainEditDifference(std::u16string_view a16, std::u16string_view b16) {
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
inline int32_t PlainTiling(std::u16string_view a, std::u16string_view b, int32_t minimum) {
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

inline int32_t PlainField(std::u16string_view fr, std::u16string_view fn, std::u16string_view rr,
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

}  // namespace pelk::testing
