#include "text/similarity.h"

#include <algorithm>
#include <new>
#include <vector>

#include "text/normalize.h"

namespace pelk::text {
namespace {

constexpr size_t kTilingLimit = 1023;

std::u32string CodePoints(std::u16string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out.push_back(0xFFFD);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// Levenshtein distance with unit costs, keeping two rows over the shorter text.
int64_t Levenshtein(std::u32string_view a, std::u32string_view b) {
  if (a.size() < b.size()) std::swap(a, b);
  if (b.empty()) return static_cast<int64_t>(a.size());
  std::vector<uint32_t> prev(b.size() + 1);
  std::vector<uint32_t> cur(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) prev[j] = static_cast<uint32_t>(j);
  for (size_t i = 1; i <= a.size(); ++i) {
    cur[0] = static_cast<uint32_t>(i);
    for (size_t j = 1; j <= b.size(); ++j) {
      const uint32_t substitution = prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, substitution});
    }
    std::swap(prev, cur);
  }
  return prev[b.size()];
}

struct Match {
  size_t a;
  size_t b;
  size_t length;
};

// Greedy string tiling: returns the number of code units of `a` covered by tiles.
size_t TiledLength(std::u16string_view a, std::u16string_view b, size_t minimum) {
  std::vector<bool> covered_a(a.size()), covered_b(b.size());
  const size_t shorter = std::min(a.size(), b.size());
  size_t tiled = 0;
  std::vector<Match> matches;
  size_t longest;
  do {
    longest = minimum;
    matches.clear();
    for (size_t p = 0; p < a.size(); ++p) {
      if (covered_a[p]) continue;
      for (size_t t = 0; t < b.size(); ++t) {
        if (covered_b[t] || a[p] != b[t]) continue;
        // A match that extends one to the left is a suffix of a longer one: never the longest.
        if (p > 0 && t > 0 && !covered_a[p - 1] && !covered_b[t - 1] && a[p - 1] == b[t - 1]) {
          continue;
        }
        size_t j = 1;
        while (p + j < a.size() && t + j < b.size() && a[p + j] == b[t + j] && !covered_a[p + j] &&
               !covered_b[t + j]) {
          ++j;
        }
        if (j == longest) {
          matches.push_back({p, t, j});
        } else if (j > longest) {
          matches.assign(1, {p, t, j});
          longest = j;
        }
      }
    }
    for (const Match& m : matches) {
      const bool occluded = std::any_of(covered_a.begin() + m.a, covered_a.begin() + m.a + m.length,
                                        [](bool c) { return c; }) ||
                            std::any_of(covered_b.begin() + m.b, covered_b.begin() + m.b + m.length,
                                        [](bool c) { return c; });
      if (occluded) continue;
      std::fill(covered_a.begin() + m.a, covered_a.begin() + m.a + m.length, true);
      std::fill(covered_b.begin() + m.b, covered_b.begin() + m.b + m.length, true);
      tiled += m.length;
    }
  } while (longest > minimum && tiled < shorter);
  return tiled;
}

// A tiling value usable as a grade: out-of-range values (-1 included) count as 0, and two equal
// texts of exactly 2 code units, too short to tile, count as alike.
int32_t TilingGrade(std::u16string_view x, std::u16string_view y) {
  int32_t g = TilingSimilarity(x, y, 3);
  if (g < 0 || g > 100) g = 0;
  if (g == 0 && x.size() == 2 && y.size() == 2 && x == y) g = 100;
  return g;
}

int32_t EditGrade(std::u16string_view x, std::u16string_view y) {
  const int32_t difference = EditDifference(x, y);
  return difference > 100 ? 0 : 100 - difference;
}

bool EitherContains(std::u16string_view x, std::u16string_view y) {
  return x.find(y) != std::u16string_view::npos || y.find(x) != std::u16string_view::npos;
}

}  // namespace

int32_t EditDifference(std::u16string_view a, std::u16string_view b) {
  int64_t distance;
  int64_t longer;
  try {
    const std::u32string ca = CodePoints(a);
    const std::u32string cb = CodePoints(b);
    longer = static_cast<int64_t>(std::max(ca.size(), cb.size()));
    if (longer == 0) return 0;
    distance = Levenshtein(ca, cb);
  } catch (const std::bad_alloc&) {
    longer = static_cast<int64_t>(std::max(a.size(), b.size()));
    if (longer == 0) return 0;
    distance = kEditDistanceNoMemory;
  }
  return static_cast<int32_t>(std::min<int64_t>(distance * 100 / longer, INT32_MAX));
}

int32_t TilingSimilarity(std::u16string_view a, std::u16string_view b, int32_t minimum) {
  if (a.empty() || b.empty()) return -1;
  const size_t min_length = static_cast<size_t>(std::max(minimum, 1));
  if (a.size() < min_length || b.size() < min_length) return 0;
  a = a.substr(0, kTilingLimit);
  b = b.substr(0, kTilingLimit);
  size_t tiled;
  try {
    tiled = TiledLength(a, b, min_length);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return static_cast<int32_t>(200 * tiled / (a.size() + b.size()));
}

int32_t FieldSimilarity(std::u16string_view file_raw, std::u16string_view file_normalized,
                        std::u16string_view reference_raw,
                        std::u16string_view reference_normalized) {
  if (file_raw.empty() || reference_raw.empty()) return 0;
  const bool have_normalized = !file_normalized.empty() && !reference_normalized.empty();
  const int32_t e = EditGrade(file_raw, reference_raw);
  const int32_t f = have_normalized ? EditGrade(file_normalized, reference_normalized) : 0;
  const int32_t g = TilingGrade(file_raw, reference_raw);
  const int32_t h = have_normalized ? TilingGrade(file_normalized, reference_normalized) : 0;
  const bool raw_containment =
      file_raw.size() >= 4 && reference_raw.size() >= 4 && EitherContains(file_raw, reference_raw);
  const bool normalized_containment = file_normalized.size() > 5 &&
                                      reference_normalized.size() > 5 &&
                                      EitherContains(file_normalized, reference_normalized);
  const int32_t l = std::max(e, f) + std::max(g, h);
  if ((!raw_containment && !normalized_containment) || l >= 180) return l / 2;
  return 90;
}

bool IsSameTitle(std::u16string_view a, std::u16string_view b) {
  return EditDifference(StandardNormalized(a), StandardNormalized(b)) < 30;
}

}  // namespace pelk::text
